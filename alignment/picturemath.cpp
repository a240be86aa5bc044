#include "picturemath.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace PictureMath {

cv::Mat grayFloat(const cv::Mat &picture)
{
    cv::Mat gray;
    if (picture.empty() || picture.depth() != CV_8U)
        return gray;
    switch (picture.channels()) {
    case 1:
        gray = picture;
        break;
    case 3:
        cv::cvtColor(picture, gray, cv::COLOR_BGR2GRAY);
        break;
    case 4:
        cv::cvtColor(picture, gray, cv::COLOR_BGRA2GRAY);
        break;
    default:
        return cv::Mat();
    }
    cv::Mat result;
    gray.convertTo(result, CV_32F);
    return result;
}

cv::Mat normalisedGradient(const cv::Mat &picture, double blurSigma, bool perChannel)
{
    if (picture.empty() || picture.depth() != CV_8U)
        return cv::Mat();
    std::vector<cv::Mat> channels;
    if (perChannel) {
        cv::Mat planes;
        picture.convertTo(planes, CV_32F);
        cv::split(planes, channels);
        if (channels.size() == 4)
            channels.pop_back(); // the X byte carries nothing
    } else {
        channels.push_back(grayFloat(picture));
    }
    cv::Mat energy = cv::Mat::zeros(picture.size(), CV_32F);
    for (const cv::Mat &channel : channels) {
        cv::Mat blurred, gx, gy;
        cv::GaussianBlur(channel, blurred, cv::Size(), blurSigma);
        cv::Scharr(blurred, gx, CV_32F, 1, 0, 1.0 / 32);
        cv::Scharr(blurred, gy, CV_32F, 0, 1, 1.0 / 32);
        energy += gx.mul(gx) + gy.mul(gy);
    }
    cv::Mat magnitude, local;
    cv::sqrt(energy, magnitude);
    cv::boxFilter(magnitude, local, CV_32F, cv::Size(31, 31));
    const double floor = 0.2 * cv::mean(magnitude)[0] + 1e-3;
    return magnitude / (local + floor);
}

cv::Matx23d affine(const OverlayMap &map)
{
    return cv::Matx23d(map.x.scale, 0, map.x.offset, 0, map.y.scale, map.y.offset);
}

cv::Mat warpToChannel1(const cv::Mat &source, const OverlayMap &map, cv::Size size, double fill)
{
    cv::Mat result;
    cv::warpAffine(source, result, affine(map), size, cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                   cv::Scalar::all(fill));
    return result;
}

cv::Mat footprint(const OverlayMap &map, cv::Size sourceSize, cv::Size size, double margin,
                  const cv::Mat &sourceValid)
{
    cv::Mat result = cv::Mat::zeros(size, CV_8U);
    const double x0 = std::ceil(map.x.apply(margin));
    const double x1 = std::floor(map.x.apply(sourceSize.width - 1 - margin));
    const double y0 = std::ceil(map.y.apply(margin));
    const double y1 = std::floor(map.y.apply(sourceSize.height - 1 - margin));
    const int left = int(std::max(0.0, x0)), top = int(std::max(0.0, y0));
    const int right = int(std::min(double(size.width), x1 + 1));
    const int bottom = int(std::min(double(size.height), y1 + 1));
    if (right <= left || bottom <= top)
        return result;
    const cv::Rect inside(left, top, right - left, bottom - top);
    result(inside).setTo(255);
    if (!sourceValid.empty()) {
        cv::Mat warped;
        cv::warpAffine(sourceValid, warped, affine(map), size, cv::INTER_NEAREST,
                       cv::BORDER_CONSTANT, cv::Scalar(0));
        result &= warped;
    }
    return result;
}

AxisMap axisToLevel(const AxisMap &axis, double f1, double f2)
{
    // x_l = f1 (x + 0.5) - 0.5 and u = (u_l + 0.5) / f2 - 0.5
    AxisMap level;
    level.scale = axis.scale * f1 / f2;
    level.offset = f1 * axis.offset + 0.5 * (axis.scale * f1 / f2 - f1 * axis.scale + f1 - 1);
    return level;
}

AxisMap axisFromLevel(const AxisMap &axis, double f1, double f2)
{
    AxisMap full;
    full.scale = axis.scale * f2 / f1;
    full.offset = (axis.offset - 0.5 * (axis.scale - f1 * full.scale + f1 - 1)) / f1;
    return full;
}

namespace {

double factor(int level, int full)
{
    return double(level) / double(full);
}

} // namespace

OverlayMap mapToLevel(const OverlayMap &map, cv::Size full1, cv::Size level1, cv::Size full2,
                      cv::Size level2)
{
    OverlayMap result;
    result.x =
        axisToLevel(map.x, factor(level1.width, full1.width), factor(level2.width, full2.width));
    result.y = axisToLevel(map.y, factor(level1.height, full1.height),
                           factor(level2.height, full2.height));
    return result;
}

OverlayMap mapFromLevel(const OverlayMap &map, cv::Size full1, cv::Size level1, cv::Size full2,
                        cv::Size level2)
{
    OverlayMap result;
    result.x =
        axisFromLevel(map.x, factor(level1.width, full1.width), factor(level2.width, full2.width));
    result.y = axisFromLevel(map.y, factor(level1.height, full1.height),
                             factor(level2.height, full2.height));
    return result;
}

OverlayMap scaledAbout(const OverlayMap &map, cv::Size source, double factor)
{
    OverlayMap result = map;
    const double uc = (source.width - 1) / 2.0, vc = (source.height - 1) / 2.0;
    const double xc = map.x.apply(uc), yc = map.y.apply(vc);
    result.x.scale *= factor;
    result.y.scale *= factor;
    result.x.offset = xc - result.x.scale * uc;
    result.y.offset = yc - result.y.scale * vc;
    return result;
}

OverlayMap stretch(cv::Size source, cv::Size size)
{
    // Pixel edges meet pixel edges: u = -0.5 lands on x = -0.5.
    OverlayMap map;
    map.x.scale = double(size.width) / source.width;
    map.y.scale = double(size.height) / source.height;
    map.x.offset = 0.5 * map.x.scale - 0.5;
    map.y.offset = 0.5 * map.y.scale - 0.5;
    return map;
}

std::vector<cv::Mat> pyramid(const cv::Mat &picture, int levels)
{
    std::vector<cv::Mat> result{picture};
    for (int i = 0; i < levels; ++i) {
        const cv::Mat &last = result.back();
        cv::Mat half;
        cv::resize(last, half, cv::Size((last.cols + 1) / 2, (last.rows + 1) / 2), 0, 0,
                   cv::INTER_AREA);
        result.push_back(half);
    }
    return result;
}

std::vector<cv::Mat> maskPyramid(const cv::Mat &mask, cv::Size size, int levels)
{
    cv::Mat full = mask.empty() ? cv::Mat(size, CV_8U, cv::Scalar(255)) : mask;
    std::vector<cv::Mat> result{full};
    for (int i = 0; i < levels; ++i) {
        const cv::Mat &last = result.back();
        cv::Mat lastFloat, half;
        last.convertTo(lastFloat, CV_32F, 1.0 / 255);
        cv::resize(lastFloat, half, cv::Size((last.cols + 1) / 2, (last.rows + 1) / 2), 0, 0,
                   cv::INTER_AREA);
        cv::Mat level = half > 0.999f;
        result.push_back(level);
    }
    return result;
}

cv::Point2d phaseCorrelate(const cv::Mat &reference, const cv::Mat &moved, double *response)
{
    cv::Mat a = reference.clone();
    cv::Mat b = moved.clone();
    cv::Mat window;
    cv::createHanningWindow(window, a.size(), CV_32F);
    double peak = 0;
    const cv::Point2d shift = cv::phaseCorrelate(a, b, window.clone(), &peak);
    if (response)
        *response = peak;
    return shift;
}

double noiseSigma(const cv::Mat &gray, const cv::Mat &ignore)
{
    // Immerkaer's estimator: the kernel is the difference of two Laplacians,
    // blind to planes and ramps, so what remains is noise (and edges, which
    // the median below mostly ignores).
    const cv::Matx33f kernel(1, -2, 1, -2, 4, -2, 1, -2, 1);
    cv::Mat response;
    cv::filter2D(gray, response, CV_32F, kernel);
    response = cv::abs(response);
    cv::Mat valid = usable(ignore, gray.size());
    cv::erode(valid, valid, cv::Mat(), cv::Point(-1, -1), 1);
    std::vector<float> values;
    values.reserve(size_t(gray.total()));
    for (int y = 1; y < gray.rows - 1; y += 2) {
        const float *row = response.ptr<float>(y);
        const uchar *ok = valid.ptr<uchar>(y);
        for (int x = 1; x < gray.cols - 1; x += 2) {
            if (ok[x])
                values.push_back(row[x]);
        }
    }
    if (values.empty())
        return 0;
    auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    // For Gaussian noise the kernel's response has deviation 6 sigma and its
    // absolute median is 0.6745 of that.
    return double(*middle) / (6 * 0.6745);
}

cv::Mat usable(const cv::Mat &ignore, cv::Size size)
{
    if (ignore.empty())
        return cv::Mat(size, CV_8U, cv::Scalar(255));
    cv::Mat result = ignore == 0;
    return result;
}

} // namespace PictureMath
