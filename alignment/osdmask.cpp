#include "osdmask.h"

#include "picturemath.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

constexpr int whiteLevel = 220;
// Between two pictures of a still camera a pixel's difference has deviation
// sqrt(2) sigma; this many of those is a real change.
constexpr double changeSigmas = 6.0;
constexpr double minimumChange = 24.0;

cv::Mat nearWhite(const cv::Mat &picture)
{
    if (picture.channels() == 1)
        return picture >= whiteLevel;
    std::vector<cv::Mat> planes;
    cv::split(picture, planes);
    return cv::min(planes[0], cv::min(planes[1], planes[2])) >= whiteLevel;
}

// Grows each changed spot over the white text of its line: the rows the spot
// spans (and a few more for descenders), as far left and right as white
// pixels follow each other within a character's gap.
cv::Mat alongTextLine(const cv::Mat &changed, const cv::Mat &white)
{
    cv::Mat grown = changed.clone();
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(changed, labels, stats, centroids, 8);
    cv::Mat joined;
    // Characters of one line are closer than a character's height apart.
    cv::morphologyEx(white, joined, cv::MORPH_CLOSE,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(15, 3)));
    for (int i = 1; i < count; ++i) {
        const int top = std::max(0, stats.at<int>(i, cv::CC_STAT_TOP) - 4);
        const int bottom = std::min(changed.rows, stats.at<int>(i, cv::CC_STAT_TOP) +
                                                      stats.at<int>(i, cv::CC_STAT_HEIGHT) + 4);
        const int left = stats.at<int>(i, cv::CC_STAT_LEFT);
        const int right = left + stats.at<int>(i, cv::CC_STAT_WIDTH);
        cv::Mat lineJoined = joined.rowRange(top, bottom);
        cv::Mat columns;
        cv::reduce(lineJoined, columns, 0, cv::REDUCE_MAX);
        int from = left, to = right;
        while (from > 0 && columns.at<uchar>(0, from - 1))
            --from;
        while (to < changed.cols && columns.at<uchar>(0, to))
            ++to;
        grown(cv::Rect(from, top, to - from, bottom - top)).setTo(255);
    }
    cv::dilate(grown, grown, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(7, 5)));
    return grown;
}

cv::Mat changedPixels(const cv::Mat &first, const cv::Mat &second, int *count)
{
    const cv::Mat a = PictureMath::grayFloat(first), b = PictureMath::grayFloat(second);
    cv::Mat difference = cv::abs(a - b);
    const double sigma = PictureMath::noiseSigma(a, cv::Mat());
    const double threshold = std::max(minimumChange, changeSigmas * 1.414 * sigma);
    cv::Mat changed = difference > threshold;
    // Isolated noise spikes are not text.
    cv::morphologyEx(changed, changed, cv::MORPH_OPEN, cv::Mat::ones(2, 2, CV_8U));
    *count = cv::countNonZero(changed);
    return changed;
}

void addBorder(cv::Mat &mask, int border)
{
    if (border <= 0)
        return;
    const int b = std::min({border, mask.cols / 2, mask.rows / 2});
    mask.rowRange(0, b).setTo(255);
    mask.rowRange(mask.rows - b, mask.rows).setTo(255);
    mask.colRange(0, b).setTo(255);
    mask.colRange(mask.cols - b, mask.cols).setTo(255);
}

bool usablePair(const cv::Mat &a, const cv::Mat &b)
{
    return !a.empty() && a.size() == b.size() && a.type() == b.type() &&
           !PictureMath::grayFloat(a).empty();
}

} // namespace

OsdMask::Masks OsdMask::build(const Pictures &pictures)
{
    Masks masks;
    if (!usablePair(pictures.channel1First, pictures.channel1Second))
        return masks;
    const bool withChannel2 = !pictures.channel2First.empty();
    if (withChannel2 && !usablePair(pictures.channel2First, pictures.channel2Second))
        return masks;
    const cv::Mat white1 = nearWhite(pictures.channel1First);
    masks.channel1 = alongTextLine(
        changedPixels(pictures.channel1First, pictures.channel1Second, &masks.changedPixels1),
        white1);
    if (withChannel2) {
        const cv::Mat white2 = nearWhite(pictures.channel2First);
        masks.channel2 = alongTextLine(
            changedPixels(pictures.channel2First, pictures.channel2Second, &masks.changedPixels2),
            white2);
        const cv::Rect common(0, 0, std::min(white1.cols, white2.cols),
                              std::min(white1.rows, white2.rows));
        cv::Mat shared = white1(common) & white2(common);
        masks.sharedTextPixels = cv::countNonZero(shared);
        cv::dilate(shared, shared, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(7, 7)));
        masks.channel1(common) |= shared;
        masks.channel2(common) |= shared;
        addBorder(masks.channel2, pictures.border);
    }
    addBorder(masks.channel1, pictures.border);
    masks.valid = true;
    return masks;
}
