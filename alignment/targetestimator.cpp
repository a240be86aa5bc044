#include "targetestimator.h"

#include "axismapfit.h"
#include "picturemath.h"
#include "structurecheck.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int coarseLevel = 2;
// Channel 1 is blurred more: its edges are sharper than the thermal ones.
constexpr double visibleBlur = 3.0, thermalBlur = 1.5;
constexpr int tilesAcross = 10, tilesDown = 8;
constexpr int smallestTile = 40;
constexpr int tileOverlap = 16;
// A tile further than this from the whole-picture fit matched something else.
constexpr double tileReach = 24;
constexpr double tileCorrelation = 0.4;
// Pairs of tiles closer than this share of the region give no scale.
constexpr double scaleBaseline = 0.3;

struct Prepared
{
    cv::Mat gradient1, gradient2, valid1, valid2;
    cv::Rect region;
};

struct Tile
{
    cv::Point2d centre; // channel 1
    cv::Point2d source; // channel 2, through the whole-picture map
    cv::Point2d landed; // channel 1, through the tile's own fit
    cv::Rect rect;
};

struct Consensus
{
    OverlayMap map;
    std::vector<int> members;
};

cv::Mat zeroed(const cv::Mat &picture, const cv::Mat &valid)
{
    cv::Mat result = picture.clone();
    result.setTo(0, valid == 0);
    return result;
}

// Whole picture, coarse: the scale sweep with phase correlation.
OverlayMap sweep(const Prepared &p, const TargetEstimator::Input &input, const OverlayMap &prior,
                 double *bestPeak)
{
    const auto small1 = PictureMath::pyramid(zeroed(p.gradient1, p.valid1), coarseLevel).back();
    const auto small2 = PictureMath::pyramid(zeroed(p.gradient2, p.valid2), coarseLevel).back();
    const cv::Size full1 = p.gradient1.size(), full2 = p.gradient2.size();
    // A region is correlated on its own: zeroed into the whole frame, the
    // window would weigh it by where it lies.
    cv::Rect window(0, 0, small1.cols, small1.rows);
    if (!input.region.empty()) {
        const double f = double(small1.cols) / full1.width;
        window &= cv::Rect(int(input.region.x * f) - 2, int(input.region.y * f) - 2,
                           int(input.region.width * f) + 4, int(input.region.height * f) + 4);
    }
    if (window.width < 16 || window.height < 16)
        window = cv::Rect(0, 0, small1.cols, small1.rows);
    const cv::Mat reference = small1(window);
    OverlayMap best = prior;
    *bestPeak = -1;
    for (double k = input.scaleFrom; k <= input.scaleTo + 1e-9; k += input.scaleStep) {
        const OverlayMap candidate = PictureMath::scaledAbout(prior, full2, k);
        OverlayMap level =
            PictureMath::mapToLevel(candidate, full1, small1.size(), full2, small2.size());
        level.x.offset -= window.x;
        level.y.offset -= window.y;
        const cv::Mat warped = PictureMath::warpToChannel1(small2, level, window.size(), 0);
        double peak = 0;
        const cv::Point2d shift = PictureMath::phaseCorrelate(warped, reference, &peak);
        if (peak <= *bestPeak)
            continue;
        *bestPeak = peak;
        level.x.offset += shift.x + window.x;
        level.y.offset += shift.y + window.y;
        best = PictureMath::mapFromLevel(level, full1, small1.size(), full2, small2.size());
    }
    return best;
}

AxisMapFit::Result fitWithin(const Prepared &p, const cv::Mat &valid1, const OverlayMap &start,
                             int levels, int iterations)
{
    AxisMapFit::Problem problem;
    problem.target = p.gradient1;
    problem.targetValid = valid1;
    problem.source = p.gradient2;
    problem.sourceValid = p.valid2;
    problem.start = start;
    problem.levels = levels;
    problem.iterations = iterations;
    problem.densePixels = 20000;
    return AxisMapFit::fit(problem);
}

// The part of channel 2 that `map` draws into `rect`, with `margin` more
// on each side, and the map that draws that crop.
cv::Rect sourceCrop(const OverlayMap &map, const cv::Rect &rect, cv::Size source, double margin,
                    OverlayMap *cropMap)
{
    const int u0 = std::max(0, int(std::floor(map.x.invert(rect.x - margin))));
    const int v0 = std::max(0, int(std::floor(map.y.invert(rect.y - margin))));
    const int u1 = std::min(source.width, int(std::ceil(map.x.invert(rect.br().x + margin))) + 1);
    const int v1 = std::min(source.height, int(std::ceil(map.y.invert(rect.br().y + margin))) + 1);
    *cropMap = map;
    cropMap->x.offset += map.x.scale * u0 - rect.x;
    cropMap->y.offset += map.y.scale * v0 - rect.y;
    return u1 > u0 && v1 > v0 ? cv::Rect(u0, v0, u1 - u0, v1 - v0) : cv::Rect();
}

// Where, within `reach` pixels, the tile's visible gradient best matches the
// warped thermal one: normalised cross-correlation of every whole-pixel
// shift at half size, so that no basin of a local fit limits the search.
cv::Point2d searchShift(const cv::Mat &target, const cv::Mat &source, const OverlayMap &local,
                        int reach)
{
    OverlayMap grown = local;
    grown.x.offset += reach;
    grown.y.offset += reach;
    const cv::Mat canvas = PictureMath::warpToChannel1(
        source, grown, cv::Size(target.cols + 2 * reach, target.rows + 2 * reach), 0);
    cv::Mat smallCanvas, smallTarget, scores;
    cv::resize(canvas, smallCanvas, cv::Size(canvas.cols / 2, canvas.rows / 2), 0, 0,
               cv::INTER_AREA);
    cv::resize(target, smallTarget, cv::Size(target.cols / 2, target.rows / 2), 0, 0,
               cv::INTER_AREA);
    cv::matchTemplate(smallCanvas, smallTarget, scores, cv::TM_CCOEFF_NORMED);
    cv::Point best;
    cv::minMaxLoc(scores, nullptr, nullptr, nullptr, &best);
    // The thermal picture shows the tile's content that far off; the map
    // must move it back.
    return cv::Point2d(reach - 2.0 * best.x, reach - 2.0 * best.y);
}

// One tile's own shift: the search around the whole-picture map, then an
// offsets-only fit on the tile.
bool fitTile(const Prepared &p, const OverlayMap &global, Tile &tile)
{
    const cv::Rect r = tile.rect;
    if (cv::countNonZero(p.valid1(r)) < r.area() / 2)
        return false;
    OverlayMap local;
    const cv::Rect crop = sourceCrop(global, r, p.gradient2.size(), tileReach + 4, &local);
    if (crop.area() < 64)
        return false;
    const OverlayMap start = local;
    const cv::Mat target = zeroed(p.gradient1(r), p.valid1(r));
    const cv::Mat source = zeroed(p.gradient2(crop), p.valid2(crop));
    const cv::Point2d shift = searchShift(target, source, local, int(tileReach) - 4);
    local.x.offset += shift.x;
    local.y.offset += shift.y;
    AxisMapFit::Problem problem;
    problem.target = target;
    problem.targetValid = p.valid1(r).clone();
    problem.source = source;
    problem.sourceValid = p.valid2(crop).clone();
    problem.start = local;
    problem.fitScale = false;
    problem.levels = 0;
    problem.iterations = 8;
    problem.densePixels = 2500;
    const AxisMapFit::Result fit = AxisMapFit::fit(problem);
    if (!fit.converged || fit.correlation < tileCorrelation)
        return false;
    const double dx = fit.map.x.offset - start.x.offset;
    const double dy = fit.map.y.offset - start.y.offset;
    if (std::hypot(dx, dy) > tileReach)
        return false;
    tile.landed = tile.centre + cv::Point2d(dx, dy);
    return true;
}

std::vector<Tile> fitTiles(const Prepared &p, const OverlayMap &global)
{
    const cv::Rect &region = p.region;
    const int nx = std::clamp(region.width / smallestTile, 1, tilesAcross);
    const int ny = std::clamp(region.height / smallestTile, 1, tilesDown);
    std::vector<Tile> tiles;
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            Tile tile;
            const int x0 = region.x + region.width * i / nx;
            const int x1 = region.x + region.width * (i + 1) / nx;
            const int y0 = region.y + region.height * j / ny;
            const int y1 = region.y + region.height * (j + 1) / ny;
            tile.rect = cv::Rect(x0, y0, x1 - x0, y1 - y0);
            // Neighbouring tiles overlap: a tile alone often holds too few
            // edges shared by both modalities.
            tile.rect = cv::Rect(x0 - tileOverlap, y0 - tileOverlap, x1 - x0 + 2 * tileOverlap,
                                 y1 - y0 + 2 * tileOverlap) &
                        cv::Rect(0, 0, p.gradient1.cols, p.gradient1.rows);
            tile.centre = cv::Point2d((x0 + x1 - 1) / 2.0, (y0 + y1 - 1) / 2.0);
            tile.source =
                cv::Point2d(global.x.invert(tile.centre.x), global.y.invert(tile.centre.y));
            if (fitTile(p, global, tile))
                tiles.push_back(tile);
        }
    }
    return tiles;
}

double residual(const OverlayMap &m, const Tile &t)
{
    return std::hypot(m.x.apply(t.source.x) - t.landed.x, m.y.apply(t.source.y) - t.landed.y);
}

// Least squares over `members`, per axis; an axis whose members lie too close
// together keeps `fallback`'s scale.
OverlayMap fitMembers(const std::vector<Tile> &tiles, const std::vector<int> &members,
                      const OverlayMap &fallback, const cv::Point2d &baseline)
{
    const auto axis = [&](auto coordinate, auto landed, double minimumSpan, AxisMap keep) {
        double n = 0, su = 0, sx = 0, suu = 0, sux = 0, lo = 1e18, hi = -1e18;
        for (int i : members) {
            const double u = coordinate(tiles[size_t(i)]), x = landed(tiles[size_t(i)]);
            n += 1, su += u, sx += x, suu += u * u, sux += u * x;
            lo = std::min(lo, u), hi = std::max(hi, u);
        }
        AxisMap result = keep;
        if (n < 1)
            return result;
        const double det = n * suu - su * su;
        if (hi - lo >= minimumSpan && det > 0) {
            result.scale = (n * sux - su * sx) / det;
            result.offset = (sx - result.scale * su) / n;
        } else {
            result.offset = (sx - keep.scale * su) / n;
        }
        return result;
    };
    OverlayMap map;
    map.x = axis([](const Tile &t) { return t.source.x; }, [](const Tile &t) { return t.landed.x; },
                 baseline.x, fallback.x);
    map.y = axis([](const Tile &t) { return t.source.y; }, [](const Tile &t) { return t.landed.y; },
                 baseline.y, fallback.y);
    return map;
}

std::vector<int> agreeing(const std::vector<Tile> &tiles, const std::vector<int> &among,
                          const OverlayMap &map, double *sum)
{
    std::vector<int> members;
    *sum = 0;
    for (int i : among) {
        const double r = residual(map, tiles[size_t(i)]);
        if (r <= TargetEstimator::inlierDistance) {
            members.push_back(i);
            *sum += r;
        }
    }
    return members;
}

// Every single tile and every pair of tiles proposes a map; the one most
// tiles agree with wins. Deterministic, and cheap for a few dozen tiles.
Consensus consensus(const std::vector<Tile> &tiles, const std::vector<int> &among,
                    const OverlayMap &global, const cv::Point2d &baseline)
{
    Consensus best;
    best.map = global;
    double bestSum = 0;
    const auto consider = [&](const std::vector<int> &seed) {
        if (!seed.empty()) {
            const OverlayMap proposal = fitMembers(tiles, seed, global, baseline);
            double sum = 0;
            std::vector<int> members = agreeing(tiles, among, proposal, &sum);
            if (members.size() > best.members.size() ||
                (members.size() == best.members.size() && sum < bestSum)) {
                best.members = std::move(members);
                best.map = proposal;
                bestSum = sum;
            }
        }
    };
    for (size_t a = 0; a < among.size(); ++a) {
        consider({among[a]});
        for (size_t b = a + 1; b < among.size(); ++b)
            consider({among[a], among[b]});
    }
    for (int round = 0; round < 2 && !best.members.empty(); ++round) {
        const OverlayMap refit = fitMembers(tiles, best.members, global, baseline);
        double sum = 0;
        std::vector<int> members = agreeing(tiles, among, refit, &sum);
        if (members.size() < best.members.size())
            break;
        best.map = refit;
        best.members = std::move(members);
    }
    return best;
}

cv::Rect fitRegion(const TargetEstimator::Input &input, const OverlayMap &map)
{
    const cv::Rect frame(0, 0, input.visible.cols, input.visible.rows);
    cv::Rect region = input.region.empty() ? frame : (input.region & frame);
    const cv::Rect covered(
        cv::Point(int(std::ceil(map.x.apply(0))), int(std::ceil(map.y.apply(0)))),
        cv::Point(int(map.x.apply(input.thermal.cols - 1)),
                  int(map.y.apply(input.thermal.rows - 1))));
    return region & covered;
}

bool usableInput(const TargetEstimator::Input &input)
{
    const auto fits = [](const cv::Mat &mask, const cv::Mat &picture) {
        return mask.empty() || (mask.size() == picture.size() && mask.type() == CV_8U);
    };
    return !input.visible.empty() && !input.thermal.empty() && fits(input.ignore1, input.visible) &&
           fits(input.ignore2, input.thermal) && input.scaleStep > 0 && input.scaleFrom > 0 &&
           input.scaleTo >= input.scaleFrom;
}

RegistrationRefusal checkStructure(const TargetEstimator::Input &input)
{
    const auto visible =
        StructureCheck::check(input.visible, input.ignore1, StructureCheck::Channel::Visible);
    if (visible.refusal != RegistrationRefusal::None)
        return visible.refusal;
    return StructureCheck::check(input.thermal, input.ignore2, StructureCheck::Channel::Thermal)
        .refusal;
}

// The largest mean residual of the winner's tiles in a third of the region,
// across or down: a line laid diagonally through two depths agrees with many
// tiles, but misses whole thirds the same way.
double bandBias(const std::vector<Tile> &tiles, const Consensus &winner, const cv::Rect &region)
{
    double worst = 0;
    for (int axis = 0; axis < 2; ++axis) {
        double sum[3] = {0, 0, 0};
        int count[3] = {0, 0, 0};
        for (int i : winner.members) {
            const Tile &t = tiles[size_t(i)];
            const double along = axis == 0 ? (t.centre.x - region.x) / region.width
                                           : (t.centre.y - region.y) / region.height;
            const int band = std::clamp(int(along * 3), 0, 2);
            const double predicted =
                axis == 0 ? winner.map.x.apply(t.source.x) : winner.map.y.apply(t.source.y);
            sum[band] += (axis == 0 ? t.landed.x : t.landed.y) - predicted;
            ++count[band];
        }
        for (int band = 0; band < 3; ++band) {
            if (count[band] >= 3)
                worst = std::max(worst, std::abs(sum[band] / count[band]));
        }
    }
    return worst;
}

void judgeTiles(const std::vector<Tile> &tiles, const Prepared &p, const OverlayMap &global,
                TargetEstimator::Result &result, Consensus &winner)
{
    std::vector<int> all(tiles.size());
    for (size_t i = 0; i < tiles.size(); ++i)
        all[i] = int(i);
    const cv::Point2d baseline(scaleBaseline * p.region.width / global.x.scale,
                               scaleBaseline * p.region.height / global.y.scale);
    winner = consensus(tiles, all, global, baseline);
    std::vector<int> others;
    for (int i : all) {
        if (std::find(winner.members.begin(), winner.members.end(), i) == winner.members.end())
            others.push_back(i);
    }
    const Consensus rival = consensus(tiles, others, global, baseline);
    const QRectF region(p.region.x, p.region.y, p.region.width, p.region.height);
    result.tiles = int(tiles.size());
    result.inliers = int(winner.members.size());
    result.rivals = int(rival.members.size());
    result.rivalDistance = rival.members.empty() ? 0 : meanDistance(rival.map, winner.map, region);
    double squares = 0;
    for (int i : winner.members)
        squares += std::pow(residual(winner.map, tiles[size_t(i)]), 2);
    result.spread = winner.members.empty() ? 0 : std::sqrt(squares / winner.members.size());
    const bool tooFew = result.inliers < 4 || result.inliers < 0.4 * result.tiles;
    const bool ambiguous = result.rivals >= TargetEstimator::rivalShare * result.inliers &&
                           result.rivalDistance > 2 * TargetEstimator::inlierDistance;
    // With one depth dominating, the robust whole-picture fit lands on it;
    // far from it, the depths pull it between them.
    result.wholeDistance = meanDistance(global, winner.map, region);
    result.bandBias = bandBias(tiles, winner, p.region);
    const bool torn = result.wholeDistance > TargetEstimator::maximumWholeDistance ||
                      result.bandBias > TargetEstimator::maximumBandBias;
    if (tooFew || ambiguous || torn || result.spread > TargetEstimator::maximumSpread)
        result.refusal = RegistrationRefusal::TilesDisagree;
}

} // namespace

namespace {

TargetEstimator::Result estimateChecked(const TargetEstimator::Input &input)
{
    TargetEstimator::Result result;
    if (!usableInput(input)) {
        result.refusal = RegistrationRefusal::BadInput;
        return result;
    }
    const OverlayMap prior = input.prior.isValid()
                                 ? input.prior
                                 : PictureMath::stretch(input.thermal.size(), input.visible.size());
    result.map = prior;
    result.refusal = checkStructure(input);
    if (result.refusal != RegistrationRefusal::None)
        return result;
    Prepared p;
    p.gradient1 = PictureMath::normalisedGradient(input.visible, visibleBlur, false);
    p.gradient2 = PictureMath::normalisedGradient(input.thermal, thermalBlur, true);
    p.valid1 = PictureMath::usable(input.ignore1, input.visible.size());
    p.valid2 = PictureMath::usable(input.ignore2, input.thermal.size());
    const OverlayMap coarse = sweep(p, input, prior, &result.peak);
    p.region = fitRegion(input, coarse);
    if (p.region.width < 2 * smallestTile || p.region.height < 2 * smallestTile) {
        result.refusal = RegistrationRefusal::NoMatch;
        return result;
    }
    cv::Mat regionValid = cv::Mat::zeros(p.valid1.size(), CV_8U);
    p.valid1(p.region).copyTo(regionValid(p.region));
    const AxisMapFit::Result whole = fitWithin(p, regionValid, coarse, 2, 12);
    result.correlation = whole.explained;
    if (!whole.converged) {
        result.refusal = RegistrationRefusal::NoMatch;
        return result;
    }
    result.wholePicture = whole.map;
    result.map = whole.map;
    const std::vector<Tile> tiles = fitTiles(p, whole.map);
    Consensus winner;
    judgeTiles(tiles, p, whole.map, result, winner);
    if (result.refusal != RegistrationRefusal::None)
        return result;
    cv::Mat inlierValid = cv::Mat::zeros(p.valid1.size(), CV_8U);
    for (int i : winner.members)
        p.valid1(tiles[size_t(i)].rect).copyTo(inlierValid(tiles[size_t(i)].rect));
    const AxisMapFit::Result refit = fitWithin(p, inlierValid, winner.map, 0, 6);
    const QRectF region(p.region.x, p.region.y, p.region.width, p.region.height);
    result.map = refit.converged && meanDistance(refit.map, winner.map, region) <= 1.0 ? refit.map
                                                                                       : winner.map;
    return result;
}

} // namespace

TargetEstimator::Result TargetEstimator::estimate(const Input &input)
{
    try {
        return estimateChecked(input);
    } catch (const cv::Exception &) {
        // Pictures OpenCV cannot work on are bad input, not a crash of the
        // alignment's worker thread.
        Result result;
        result.refusal = RegistrationRefusal::BadInput;
        return result;
    }
}
