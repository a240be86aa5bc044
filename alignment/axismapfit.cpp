#include "axismapfit.h"

#include "picturemath.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Below this many usable pixels a level's fit is noise.
constexpr int minimumPixels = 150;
// Huber's threshold in robust standard deviations of the residual.
constexpr double huberK = 2.0;
// Source pixels this close to the source's edge are not sampled: the
// gradient there is one-sided.
constexpr double sourceMargin = 1.5;

struct LevelData
{
    cv::Mat target, targetValid, source, sourceValid, extra;
    cv::Mat stacked; // source, d/du, d/dv as one picture: one warp per step
    int iterations = 0;
    int densePixels = 0;
    int targetCount = 0;
};

struct Model
{
    OverlayMap map;
    double gain = 1, extraGain = 0, offset = 0;
};

struct Pixel
{
    int x, y;
    float w, wu, wv;
    double residual;
};

// Where the source's bilinear neighbourhood of one target column (or row)
// starts and how far into it the sample lies; negative when outside.
struct Tap
{
    int index;
    float fraction;
};

std::vector<Tap> taps(const AxisMap &axis, int count, int sourceCount)
{
    std::vector<Tap> result(size_t(count), Tap{-1, 0});
    for (int x = 0; x < count; ++x) {
        const double u = axis.invert(x);
        if (u >= sourceMargin && u <= sourceCount - 1 - sourceMargin) {
            const int i = int(u);
            result[size_t(x)] = Tap{i, float(u - i)};
        }
    }
    return result;
}

// The target's usable pixels with the warped source and its gradient there,
// interpolated directly: the map is separable, so each column and each row
// has one tap.
std::vector<Pixel> sample(const LevelData &d, const Model &m)
{
    const cv::Size size = d.target.size();
    const std::vector<Tap> columns = taps(m.map.x, size.width, d.source.cols);
    const std::vector<Tap> rows = taps(m.map.y, size.height, d.source.rows);
    const int stride =
        std::max(1, int(std::ceil(std::sqrt(double(d.targetCount) / std::max(1, d.densePixels)))));
    std::vector<Pixel> pixels;
    pixels.reserve(size_t(d.targetCount / (stride * stride) + size.width));
    for (int y = 0; y < size.height; y += stride) {
        const Tap row = rows[size_t(y)];
        if (row.index < 0)
            continue;
        const uchar *ok = d.targetValid.ptr<uchar>(y);
        const float *t = d.target.ptr<float>(y);
        const float *e = d.extra.empty() ? nullptr : d.extra.ptr<float>(y);
        const cv::Vec3f *top = d.stacked.ptr<cv::Vec3f>(row.index);
        const cv::Vec3f *bottom = d.stacked.ptr<cv::Vec3f>(row.index + 1);
        const uchar *okTop = d.sourceValid.ptr<uchar>(row.index);
        const uchar *okBottom = d.sourceValid.ptr<uchar>(row.index + 1);
        for (int x = (y / stride) % stride; x < size.width; x += stride) {
            const Tap column = columns[size_t(x)];
            const int i = column.index;
            if (!ok[x] || i < 0 || !okTop[i] || !okTop[i + 1] || !okBottom[i] || !okBottom[i + 1])
                continue;
            const float fx = column.fraction, fy = row.fraction;
            const cv::Vec3f s = (top[i] * (1 - fx) + top[i + 1] * fx) * (1 - fy) +
                                (bottom[i] * (1 - fx) + bottom[i + 1] * fx) * fy;
            const double model = m.gain * s[0] + (e ? m.extraGain * e[x] : 0.0) + m.offset;
            pixels.push_back({x, y, s[0], s[1], s[2], t[x] - model});
        }
    }
    return pixels;
}

double robustSigma(const std::vector<Pixel> &pixels)
{
    std::vector<float> magnitudes;
    magnitudes.reserve(pixels.size());
    for (const Pixel &p : pixels)
        magnitudes.push_back(float(std::abs(p.residual)));
    auto middle = magnitudes.begin() + magnitudes.size() / 2;
    std::nth_element(magnitudes.begin(), middle, magnitudes.end());
    return std::max(1e-6, 1.4826 * double(*middle));
}

// One Gauss-Newton step; false when the system is singular.
bool step(const LevelData &d, const std::vector<Pixel> &pixels, bool fitScale, Model &m)
{
    const bool withExtra = !d.extra.empty();
    const int geometric = fitScale ? 4 : 2;
    const int n = geometric + (withExtra ? 3 : 2);
    const double sigma = robustSigma(pixels);
    cv::Matx<double, 7, 7> a = cv::Matx<double, 7, 7>::zeros();
    cv::Vec<double, 7> b = cv::Vec<double, 7>::all(0);
    double j[7];
    const double sx = m.map.x.scale, sy = m.map.y.scale;
    for (const Pixel &p : pixels) {
        // d(model)/d(offset) = -gain * gradient / scale; the scale's
        // derivative carries the source coordinate u besides.
        const double gx = -m.gain * p.wu / sx, gy = -m.gain * p.wv / sy;
        int k = 0;
        if (fitScale) {
            j[k++] = gx * m.map.x.invert(p.x);
            j[k++] = gx;
            j[k++] = gy * m.map.y.invert(p.y);
            j[k++] = gy;
        } else {
            j[k++] = gx;
            j[k++] = gy;
        }
        j[k++] = p.w;
        if (withExtra)
            j[k++] = d.extra.at<float>(p.y, p.x);
        j[k++] = 1.0;
        const double r = std::abs(p.residual);
        const double weight = r <= huberK * sigma ? 1.0 : huberK * sigma / r;
        for (int row = 0; row < n; ++row) {
            const double wj = weight * j[row];
            b(row) += wj * p.residual;
            for (int col = row; col < n; ++col)
                a(row, col) += wj * j[col];
        }
    }
    cv::Mat system(n, n, CV_64F), rhs(n, 1, CV_64F), delta;
    for (int row = 0; row < n; ++row) {
        rhs.at<double>(row) = b(row);
        for (int col = 0; col < n; ++col)
            system.at<double>(row, col) = row <= col ? a(row, col) : a(col, row);
    }
    if (!cv::solve(system, rhs, delta, cv::DECOMP_CHOLESKY))
        return false;
    const double *dp = delta.ptr<double>();
    int k = 0;
    if (fitScale) {
        m.map.x.scale += dp[k++];
        m.map.x.offset += dp[k++];
        m.map.y.scale += dp[k++];
        m.map.y.offset += dp[k++];
    } else {
        m.map.x.offset += dp[k++];
        m.map.y.offset += dp[k++];
    }
    m.gain += dp[k++];
    if (withExtra)
        m.extraGain += dp[k++];
    m.offset += dp[k++];
    return m.map.isValid();
}

// How far, in level pixels, the map moved at the picture's far corner.
double movement(const OverlayMap &a, const OverlayMap &b, cv::Size sourceSize)
{
    const double du = sourceSize.width, dv = sourceSize.height;
    return std::max(std::abs(a.x.offset - b.x.offset) + std::abs(a.x.scale - b.x.scale) * du,
                    std::abs(a.y.offset - b.y.offset) + std::abs(a.y.scale - b.y.scale) * dv);
}

// The gain and offsets for a fixed map, so that the first step starts from
// the best linear model rather than from an arbitrary gain.
void fitLinear(const LevelData &d, Model &m)
{
    m.gain = 1;
    m.extraGain = 0;
    m.offset = 0;
    Model none = m;
    none.gain = 0;
    const std::vector<Pixel> pixels = sample(d, none);
    if (int(pixels.size()) < minimumPixels)
        return;
    const bool withExtra = !d.extra.empty();
    const int n = withExtra ? 3 : 2;
    cv::Mat a = cv::Mat::zeros(n, n, CV_64F), b = cv::Mat::zeros(n, 1, CV_64F), x;
    for (const Pixel &p : pixels) {
        const double j[3] = {p.w, withExtra ? d.extra.at<float>(p.y, p.x) : 1.0, 1.0};
        for (int row = 0; row < n; ++row) {
            b.at<double>(row) += j[row] * p.residual;
            for (int col = 0; col < n; ++col)
                a.at<double>(row, col) += j[row] * j[col];
        }
    }
    if (!cv::solve(a, b, x, cv::DECOMP_SVD))
        return;
    m.gain = x.at<double>(0);
    m.extraGain = withExtra ? x.at<double>(1) : 0;
    m.offset = x.at<double>(n - 1);
}

bool refine(const LevelData &d, const AxisMapFit::Problem &problem, Model &m)
{
    fitLinear(d, m);
    for (int i = 0; i < d.iterations; ++i) {
        const std::vector<Pixel> pixels = sample(d, m);
        if (int(pixels.size()) < minimumPixels)
            return false;
        const Model before = m;
        if (!step(d, pixels, problem.fitScale, m))
            return false;
        if (movement(before.map, m.map, d.source.size()) < 2e-3)
            return true;
    }
    return true;
}

double explainedFraction(const LevelData &d, const Model &m, int *count)
{
    const std::vector<Pixel> pixels = sample(d, m);
    *count = int(pixels.size());
    if (pixels.empty())
        return 0;
    double sum = 0, sumSquares = 0, residualSquares = 0;
    for (const Pixel &p : pixels) {
        const double t = d.target.at<float>(p.y, p.x);
        sum += t;
        sumSquares += t * t;
        residualSquares += p.residual * p.residual;
    }
    const double variance = sumSquares - sum * sum / double(pixels.size());
    return variance > 0 ? std::max(0.0, 1 - residualSquares / variance) : 0;
}

double correlation(const LevelData &d, const Model &m)
{
    const std::vector<Pixel> pixels = sample(d, m);
    double n = 0, st = 0, sw = 0, stt = 0, sww = 0, stw = 0;
    for (const Pixel &p : pixels) {
        const double t = d.target.at<float>(p.y, p.x), w = p.w;
        n += 1, st += t, sw += w, stt += t * t, sww += w * w, stw += t * w;
    }
    const double vt = stt - st * st / n, vw = sww - sw * sw / n;
    return n > 0 && vt > 0 && vw > 0 ? (stw - st * sw / n) / std::sqrt(vt * vw) : 0;
}

} // namespace

AxisMapFit::Result AxisMapFit::fit(const Problem &problem)
{
    Result result;
    result.map = problem.start;
    if (problem.target.empty() || problem.source.empty() || !problem.start.isValid())
        return result;
    const int levels = std::max(0, problem.levels);
    const auto targets = PictureMath::pyramid(problem.target, levels);
    const auto sources = PictureMath::pyramid(problem.source, levels);
    const auto targetMasks =
        PictureMath::maskPyramid(problem.targetValid, problem.target.size(), levels);
    const auto sourceMasks =
        PictureMath::maskPyramid(problem.sourceValid, problem.source.size(), levels);
    const auto extras = problem.extra.empty() ? std::vector<cv::Mat>(size_t(levels) + 1)
                                              : PictureMath::pyramid(problem.extra, levels);
    const cv::Size full1 = problem.target.size(), full2 = problem.source.size();
    Model model;
    model.map = problem.start;
    bool ok = true;
    LevelData d;
    for (int level = levels; level >= 0 && ok; --level) {
        d = LevelData{targets[size_t(level)],
                      targetMasks[size_t(level)],
                      sources[size_t(level)],
                      sourceMasks[size_t(level)],
                      extras[size_t(level)],
                      cv::Mat(),
                      0};
        if (std::min(d.target.cols, d.target.rows) < 16 && level > 0)
            continue;
        cv::Mat du, dv;
        cv::Sobel(d.source, du, CV_32F, 1, 0, 3, 1.0 / 8);
        cv::Sobel(d.source, dv, CV_32F, 0, 1, 3, 1.0 / 8);
        cv::merge(std::vector<cv::Mat>{d.source, du, dv}, d.stacked);
        // The coarse levels have brought the map within a fraction of a
        // pixel; full size needs only a few steps more.
        d.densePixels = problem.densePixels;
        d.targetCount = cv::countNonZero(d.targetValid);
        d.iterations =
            level == 0 && levels > 0 ? std::min(problem.iterations, 5) : problem.iterations;
        const cv::Size l1 = d.target.size(), l2 = d.source.size();
        Model atLevel = model;
        atLevel.map = PictureMath::mapToLevel(model.map, full1, l1, full2, l2);
        ok = refine(d, problem, atLevel);
        model = atLevel;
        model.map = PictureMath::mapFromLevel(atLevel.map, full1, l1, full2, l2);
    }
    if (!ok || !model.map.isValid())
        return result;
    Model final = model;
    result.map = model.map;
    result.gain = model.gain;
    result.extraGain = model.extraGain;
    result.explained = explainedFraction(d, final, &result.pixels);
    result.correlation = correlation(d, final);
    result.converged = true;
    return result;
}
