// Synthetic two-lens pictures for the picture-analysis tests: a visible and a
// thermal rendering of one layout with the differences real pictures have
// (visible-only texture, thermal-only hot objects, reversed contrast, blur,
// noise, a drifting cloud, OSD text with a frame counter), objects at
// several depths and a known map from channel 2 into channel 1.
#ifndef ALIGNMENTSCENE_H
#define ALIGNMENTSCENE_H

#include "overlaymap.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <random>
#include <string>
#include <vector>

struct SceneOptions
{
    unsigned seed = 1;
    cv::Size size1{640, 480};
    cv::Size size2{384, 288};
    OverlayMap truth; // the dominant depth's map; set by the test
    // Objects at other depths land this many channel-1 pixels further right
    // in the thermal picture than the dominant depth does.
    std::vector<double> parallax{5.0, -3.0};
    bool halfHalf = false; // right half of the scene at a depth `parallax[0]` away
    int objectsPerDepth = 1;
    bool featurelessThermal = false;
    double noise1 = 2.0, noise2 = 3.0;
};

struct ScenePictures
{
    cv::Mat visible, visibleLater; // channel 1 BGRX, fusion off, two moments
    cv::Mat thermal, thermalLater; // channel 2 BGRX with its OSD, two moments
    cv::Mat thermalLayer;          // channel 2 BGRX without OSD: what the camera fuses
};

class AlignmentScene
{
public:
    explicit AlignmentScene(const SceneOptions &options) : o(options), rng(options.seed)
    {
        buildLayout();
        ScenePictures &p = pictures;
        const cv::Mat visibleWorld = renderVisible();
        p.visible = finishVisible(visibleWorld, 0, 1234);
        p.visibleLater = finishVisible(visibleWorld, 6, 1241);
        const cv::Mat thermalGray = renderThermal();
        p.thermalLayer = finishThermal(thermalGray, -1);
        p.thermal = finishThermal(thermalGray, 1234);
        p.thermalLater = finishThermal(thermalGray, 1241);
    }

    // Channel 1 with fusion on: the thermal layer drawn by `camera` and
    // blended with `alpha` over a visible picture, the OSD on top.
    cv::Mat fused(const OverlayMap &camera, double alpha, int counter) const
    {
        cv::Mat visible = finishVisibleNoOsd(renderVisible(), 3);
        cv::Mat layer;
        const cv::Matx23d m(camera.x.scale, 0, camera.x.offset, 0, camera.y.scale, camera.y.offset);
        cv::warpAffine(pictures.thermalLayer, layer, m, o.size1, cv::INTER_LINEAR);
        cv::Mat cover(pictures.thermalLayer.size(), CV_8U, cv::Scalar(255)), coverWarped;
        cv::warpAffine(cover, coverWarped, m, o.size1, cv::INTER_NEAREST);
        cv::Mat blended;
        cv::addWeighted(visible, 1 - alpha, layer, alpha, 0, blended);
        blended.copyTo(visible, coverWarped);
        drawOsd(visible, "Channel 1 visible frame ", counter);
        return visible;
    }

    ScenePictures pictures;

private:
    struct Shape
    {
        cv::Rect rect;
        bool ellipse;
        int visibleLevel, thermalLevel;
        int depth; // index into parallax + 1; 0 = dominant
    };

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    void buildLayout()
    {
        const int w = o.size1.width, h = o.size1.height;
        for (int i = 0; i < 18; ++i) {
            const int sw = uniform(40, 160), sh = uniform(30, 120);
            const int v = uniform(30, 220);
            // Half the shapes reverse their contrast in the thermal picture.
            const int t = i % 2 ? 255 - v : uniform(40, 200);
            shapes.push_back({cv::Rect(uniform(-20, w - 40), uniform(-20, h - 30), sw, sh),
                              i % 3 == 0, v, t, 0});
        }
        for (size_t d = 0; d < o.parallax.size() && !o.halfHalf; ++d) {
            for (int i = 0; i < o.objectsPerDepth; ++i) {
                shapes.push_back({cv::Rect(uniform(40, w - 200), uniform(40, h - 160),
                                           uniform(70, 130), uniform(60, 110)),
                                  i == 1, uniform(20, 235), uniform(60, 250), int(d) + 1});
            }
        }
        for (int i = 0; i < 5; ++i)
            hotSpots.push_back(cv::Point(uniform(30, w - 30), uniform(30, h - 30)));
        for (int i = 0; i < 400; ++i)
            texture.push_back(cv::Point(uniform(0, w - 1), uniform(0, h - 1)));
    }

    cv::Mat renderVisible() const
    {
        cv::Mat world(o.size1, CV_8U);
        for (int y = 0; y < world.rows; ++y)
            world.row(y).setTo(60 + 80 * y / world.rows);
        for (const Shape &s : shapes)
            draw(world, s, s.visibleLevel, 0);
        for (size_t i = 0; i < texture.size(); ++i) // visible-only fine texture
            cv::circle(world, texture[i], 1 + int(i % 3), cv::Scalar(i % 2 ? 20 : 235), cv::FILLED);
        return world;
    }

    double shiftOf(int depth) const { return depth == 0 ? 0.0 : o.parallax[size_t(depth - 1)]; }

    cv::Mat renderThermalAt(double halfShift) const
    {
        cv::Mat world(o.size1, CV_32F, cv::Scalar(90));
        if (o.featurelessThermal)
            return world;
        for (const Shape &s : shapes)
            draw(world, s, s.thermalLevel, shiftOf(s.depth) + halfShift);
        for (const cv::Point &p : hotSpots) { // thermal-only hot objects
            cv::circle(world, p + cv::Point(int(halfShift), 0), 14, cv::Scalar(250), cv::FILLED);
        }
        return world;
    }

    // Thermal world in channel 1's coordinates, then seen through the map.
    cv::Mat renderThermal() const
    {
        cv::Mat world = renderThermalAt(0);
        if (o.halfHalf) {
            const int half = o.size1.width / 2;
            renderThermalAt(o.parallax[0])
                .colRange(half, o.size1.width)
                .copyTo(world.colRange(half, o.size1.width));
        }
        cv::GaussianBlur(world, world, cv::Size(), 1.2);
        const cv::Matx23d m(o.truth.x.scale, 0, o.truth.x.offset, 0, o.truth.y.scale,
                            o.truth.y.offset);
        cv::Mat thermal;
        cv::warpAffine(world, thermal, m, o.size2, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                       cv::BORDER_REPLICATE);
        cv::GaussianBlur(thermal, thermal, cv::Size(), 1.0);
        return thermal;
    }

    cv::Mat finishThermal(const cv::Mat &gray, int counter) const
    {
        cv::Mat noisy = gray.clone(), noise(gray.size(), CV_32F);
        cv::theRNG().state = o.seed * 104729u + unsigned(counter + 2);
        cv::randn(noise, 0, o.noise2);
        if (counter >= 0)
            noisy += noise;
        cv::Mat bytes, colour, bgrx;
        noisy.convertTo(bytes, CV_8U);
        cv::applyColorMap(bytes, colour, cv::COLORMAP_INFERNO);
        cv::cvtColor(colour, bgrx, cv::COLOR_BGR2BGRA);
        if (counter >= 0)
            drawOsd(bgrx, "Channel 2 thermal frame ", counter);
        return bgrx;
    }

    cv::Mat finishVisibleNoOsd(const cv::Mat &world, int cloudShift) const
    {
        cv::Mat picture;
        world.convertTo(picture, CV_32F);
        // A soft cloud drifting between moments.
        cv::Mat cloud = cv::Mat::zeros(world.size(), CV_32F);
        cv::circle(cloud, cv::Point(world.cols / 3 + cloudShift, world.rows / 4), 50,
                   cv::Scalar(25), cv::FILLED);
        cv::GaussianBlur(cloud, cloud, cv::Size(), 25);
        cv::Mat noise(world.size(), CV_32F);
        cv::theRNG().state = o.seed * 7919u + unsigned(cloudShift) + 1;
        cv::randn(noise, 0, o.noise1);
        picture += cloud + noise;
        cv::Mat bytes, bgrx;
        picture.convertTo(bytes, CV_8U);
        cv::cvtColor(bytes, bgrx, cv::COLOR_GRAY2BGRA);
        return bgrx;
    }

    cv::Mat finishVisible(const cv::Mat &world, int cloudShift, int counter) const
    {
        cv::Mat picture = finishVisibleNoOsd(world, cloudShift);
        drawOsd(picture, "Channel 1 visible frame ", counter);
        return picture;
    }

    static void drawOsd(cv::Mat &picture, const std::string &text, int counter)
    {
        cv::putText(picture, text + std::to_string(counter), cv::Point(12, 28),
                    cv::FONT_HERSHEY_SIMPLEX, 0.6, cv::Scalar(255, 255, 255, 255), 2, cv::LINE_AA);
    }

    template<typename Level>
    static void draw(cv::Mat &world, const Shape &s, Level level, double shift)
    {
        // Sub-pixel positions through the drawing functions' fixed point.
        constexpr int bits = 4;
        const double scale = 1 << bits;
        const cv::Rect r = s.rect;
        const cv::Point2d centre(r.x + r.width / 2.0 + shift, r.y + r.height / 2.0);
        if (s.ellipse) {
            cv::ellipse(world, cv::Point(int(centre.x * scale), int(centre.y * scale)),
                        cv::Size(int(r.width / 2.0 * scale), int(r.height / 2.0 * scale)), 0, 0,
                        360, cv::Scalar(level), cv::FILLED, cv::LINE_AA, bits);
        } else {
            const cv::Point2d a(r.x + shift, r.y), b(r.x + r.width + shift, r.y + r.height);
            std::vector<cv::Point> corners{cv::Point(int(a.x * scale), int(a.y * scale)),
                                           cv::Point(int(b.x * scale), int(a.y * scale)),
                                           cv::Point(int(b.x * scale), int(b.y * scale)),
                                           cv::Point(int(a.x * scale), int(b.y * scale))};
            cv::fillConvexPoly(world, corners, cv::Scalar(level), cv::LINE_AA, bits);
        }
    }

    SceneOptions o;
    std::mt19937 rng;
    std::vector<Shape> shapes;
    std::vector<cv::Point> hotSpots;
    std::vector<cv::Point> texture;
};

#endif // ALIGNMENTSCENE_H
