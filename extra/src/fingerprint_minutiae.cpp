// Minutiae of a fingerprint's ridge map: the map cleaned and thinned, its
// endings and bifurcations by crossing number, each branch followed along
// the skeleton for the direction and for the removal of spurs, short
// ridges, bridges and broken ridges; and the one call from a print to all
// of it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "fingerprint_detail.hpp"

using namespace kx;
using namespace kxx::print;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Ring order E, NE, N, NW, W, SW, S, SE (rows down: N is y - 1).
constexpr int kDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kDy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
// Following order: edge neighbours, then corners.
constexpr int kFollow[8] = {0, 2, 4, 6, 1, 3, 5, 7};

struct Candidate {
    int x, y, kind;
    bool alive;
    double direction;
};

struct Trace {
    int who;        // the minutia it started from
    int met;        // the minutia met, -1 for none
    int steps;      // pixels gone
    double vx, vy;  // to the pixel after `trace` steps (or the last)
};

double angleOf(double vx, double vy)
{
    double a = std::atan2(vy, vx);
    if (a < 0) a += 2 * kPi;
    if (a >= 2 * kPi) a = 0;
    return a;
}

// Smallest angle between two directions, 0..pi.
double between(double a, double b)
{
    double d = std::fabs(a - b);
    while (d > 2 * kPi) d -= 2 * kPi;
    return d > kPi ? 2 * kPi - d : d;
}

class Skeleton {
public:
    // A skeleton w pixels wide, in bits with a one-pixel frame ((w + 2) a row).
    Skeleton(int w, uint8_t *bits, int32_t *id, int32_t *stamp)
        : s_(size_t(w) + 2), bits_(bits), id_(id), stamp_(stamp)
    {
    }
    bool set(int x, int y) const { return bits_[at(x, y)] != 0; }
    int ring(int x, int y) const
    {
        int code = 0;
        for (int i = 0; i < 8; ++i) code |= int(set(x + kDx[i], y + kDy[i])) << i;
        return code;
    }
    static int crossing(int code)
    {
        int n = 0;
        for (int i = 0; i < 8; ++i) n += !((code >> i) & 1) && ((code >> ((i + 1) & 7)) & 1);
        return n;
    }
    // One start pixel per run of set ring pixels (its edge neighbour if it
    // has one, else its first pixel).
    int starts(int x, int y, int *dirs) const
    {
        const int code = ring(x, y);
        if (code == 0xFF) return 0;
        int first = 0;
        while ((code >> first) & 1) ++first;  // a clear position
        int count = 0;
        for (int k = 1; k <= 8; ++k) {
            const int i = (first + k) & 7;
            if (!((code >> i) & 1)) continue;
            const int prev = (i + 7) & 7;
            if ((code >> prev) & 1) continue;  // not the start of a run
            int pick = i;
            for (int r = i; (code >> r) & 1; r = (r + 1) & 7) {
                if (!(r & 1)) {
                    pick = r;
                    break;
                }
                if (((r + 1) & 7) == i) break;
            }
            dirs[count++] = pick;
        }
        return count;
    }
    static constexpr int kSkip = 3;
    Trace follow(int who, int x, int y, int dir, int maxSteps, int traceSteps, int32_t stampValue) const
    {
        stamp_[at(x, y)] = stampValue;
        for (int i = 0; i < 8; ++i)
            if (set(x + kDx[i], y + kDy[i])) stamp_[at(x + kDx[i], y + kDy[i])] = stampValue;
        int cx = x + kDx[dir], cy = y + kDy[dir], steps = 1;
        Trace t{who, -1, 1, double(cx - x), double(cy - y)};
        // The first steps out of a thinned ridge end often kink: the vector
        // starts at the third pixel once the branch is long enough.
        int ox = x, oy = y;
        for (;;) {
            if (steps == kSkip && traceSteps > 2 * kSkip) ox = cx, oy = cy;
            if (steps <= traceSteps) t.vx = cx - ox, t.vy = cy - oy;
            const int32_t other = id_[at(cx, cy)];
            if (other >= 0 && other != who) {
                t.met = other;
                break;
            }
            if (steps >= maxSteps) break;
            int next = -1;
            for (int k = 0; k < 8; ++k) {
                const int i = kFollow[k];
                const int nx = cx + kDx[i], ny = cy + kDy[i];
                if (set(nx, ny) && stamp_[at(nx, ny)] != stampValue) {
                    next = i;
                    break;
                }
            }
            if (next < 0) break;
            cx += kDx[next];
            cy += kDy[next];
            stamp_[at(cx, cy)] = stampValue;
            ++steps;
        }
        t.steps = steps;
        return t;
    }
    size_t at(int x, int y) const { return size_t(y + 1) * s_ + size_t(x + 1); }

private:
    size_t s_;
    uint8_t *bits_;
    int32_t *id_;
    int32_t *stamp_;
};

bool usable(const Image *im, int w, int h)
{
    return typeOk(im) && (im->imageType == KIT_BIN || im->imageType == KIT_GRAY) && im->width == w &&
           im->height == h;
}

}  // namespace

extern "C" {

int kxxPrintMinutiae(const Image *ridges, int block, const float *orientation, const float *coherence,
                     const uint8_t *mask, const KxxPrintParams *params, KxxMinutia *minutiae, int capacity,
                     Image *skeleton)
{
    if (!(ridges && params && (minutiae || capacity <= 0)))
        return kx::failed("ridges && params && (minutiae || capacity <= 0)", -1);
    if (!typeOk(ridges) || ridges->imageType != KIT_BIN || !blockOk(block) || !paramsOk(*params)) return -1;
    const int w = ridges->width, h = ridges->height;
    if (skeleton && !usable(skeleton, w, h)) return -1;
    const KxxPrintParams &p = *params;
    const Grid g = grid(ridges, block);

    TempImage copy(KIT_BIN, w, h);
    const size_t cells = (size_t(w) + 2) * (size_t(h) + 2);
    Scratch<uint8_t> bits(cells);
    Scratch<int32_t> ids(2 * cells);
    if (!copy || !bits || !ids) return kx::failed("copy", -1);
    for (int y = 0; y < h; ++y) {
        const uint8_t *s = row(ridges, y);
        uint8_t *d = row(copy.get(), y);
        for (int x = 0; x < w; ++x) d[x] = s[x] != 0;
    }
    kxxDespeckle(copy.get(), 8, p.minArea);
    for (int y = 0; y < h; ++y)
        for (uint8_t *d = row(copy.get(), y), *e = d + w; d < e; ++d) *d ^= 1;
    kxxDespeckle(copy.get(), 4, p.minArea);
    for (int y = 0; y < h; ++y)
        for (uint8_t *d = row(copy.get(), y), *e = d + w; d < e; ++d) *d ^= 1;
    kxThinning(copy.get());
    if (skeleton) {
        for (int y = 0; y < h; ++y) std::memcpy(row(skeleton, y), row(copy.get(), y), size_t(w));
        skeleton->imageType = KIT_BIN;
    }

    std::memset(bits.get(), 0, cells);
    int32_t *id = ids.get(), *stamp = ids.get() + cells;
    std::fill(id, id + cells, -1);
    std::fill(stamp, stamp + cells, 0);
    Skeleton sk(w, bits.get(), id, stamp);
    for (int y = 0; y < h; ++y) std::memcpy(bits.get() + sk.at(0, y), row(copy.get(), y), size_t(w));

    std::vector<Candidate> cand;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!sk.set(x, y)) continue;
            const int cn = Skeleton::crossing(sk.ring(x, y));
            if (cn != 1 && cn != 3 && cn != 4) continue;
            id[sk.at(x, y)] = int32_t(cand.size());
            cand.push_back({x, y, cn == 1 ? KXX_MINUTIA_ENDING : KXX_MINUTIA_BIFURCATION, true, 0.0});
        }

    const int reach = std::max({p.trace, int(std::ceil(p.minRidge)), int(std::ceil(p.bridge)), 1});
    std::vector<Trace> traces;
    std::vector<int> firstTrace(cand.size() + 1);
    int32_t stampValue = 0;
    for (size_t c = 0; c < cand.size(); ++c) {
        firstTrace[c] = int(traces.size());
        int dirs[8];
        const int count = sk.starts(cand[c].x, cand[c].y, dirs);
        for (int b = 0; b < count; ++b)
            traces.push_back(sk.follow(int(c), cand[c].x, cand[c].y, dirs[b], reach, p.trace, ++stampValue));
        // Direction.
        const Trace *t = traces.data() + firstTrace[c];
        const int nb = int(traces.size()) - firstTrace[c];
        if (cand[c].kind == KXX_MINUTIA_ENDING) {
            cand[c].direction = nb ? angleOf(-t[0].vx, -t[0].vy) : 0.0;
        } else {
            int stem = 0;
            double widest = -1;
            for (int a = 0; a < nb; ++a) {
                double nearest = 4 * kPi;
                for (int o = 0; o < nb; ++o)
                    if (o != a)
                        nearest = std::min(nearest, between(angleOf(t[a].vx, t[a].vy), angleOf(t[o].vx, t[o].vy)));
                if (nearest > widest) widest = nearest, stem = a;
            }
            cand[c].direction = nb ? angleOf(-t[stem].vx, -t[stem].vy) : 0.0;
        }
    }
    firstTrace[cand.size()] = int(traces.size());
    // The ridge orientation of the block, in the sense the trace gives.
    if (orientation)
        for (Candidate &c : cand) {
            const double t = orientation[size_t(c.y / block) * g.cols + c.x / block];
            c.direction = between(t, c.direction) <= kPi / 2 ? t : t + kPi;
        }

    // Spurs and short ridges.
    std::vector<uint8_t> drop(cand.size(), 0);
    for (size_t c = 0; c < cand.size(); ++c) {
        if (cand[c].kind != KXX_MINUTIA_ENDING) continue;
        for (int k = firstTrace[c]; k < firstTrace[c + 1]; ++k)
            if (traces[size_t(k)].met >= 0 && traces[size_t(k)].steps < p.minRidge)
                drop[c] = drop[size_t(traces[size_t(k)].met)] = 1;
    }
    for (size_t c = 0; c < cand.size(); ++c)
        if (drop[c]) cand[c].alive = false;
    // Bridges.
    std::fill(drop.begin(), drop.end(), 0);
    for (size_t c = 0; c < cand.size(); ++c) {
        if (!cand[c].alive || cand[c].kind != KXX_MINUTIA_BIFURCATION) continue;
        for (int k = firstTrace[c]; k < firstTrace[c + 1]; ++k) {
            const Trace &t = traces[size_t(k)];
            if (t.met >= 0 && cand[size_t(t.met)].alive && cand[size_t(t.met)].kind == KXX_MINUTIA_BIFURCATION &&
                t.steps < p.bridge)
                drop[c] = drop[size_t(t.met)] = 1;
        }
    }
    for (size_t c = 0; c < cand.size(); ++c)
        if (drop[c]) cand[c].alive = false;
    // Endings facing each other across a gap.
    std::fill(drop.begin(), drop.end(), 0);
    const double facing = p.gapAngle * kPi / 180;
    for (size_t a = 0; a < cand.size(); ++a) {
        if (!cand[a].alive || cand[a].kind != KXX_MINUTIA_ENDING) continue;
        for (size_t b = a + 1; b < cand.size(); ++b) {
            if (!cand[b].alive || cand[b].kind != KXX_MINUTIA_ENDING) continue;
            const double dx = cand[b].x - cand[a].x, dy = cand[b].y - cand[a].y;
            if (!(std::sqrt(dx * dx + dy * dy) < p.gap)) continue;
            if (between(cand[a].direction, angleOf(dx, dy)) <= facing &&
                between(cand[b].direction, angleOf(-dx, -dy)) <= facing)
                drop[a] = drop[b] = 1;
        }
    }
    for (size_t c = 0; c < cand.size(); ++c)
        if (drop[c]) cand[c].alive = false;
    // Near the background.
    const int bd = int(std::floor(p.border));
    auto foreground = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h) return false;
        return !mask || mask[size_t(y / block) * g.cols + x / block] != 0;
    };
    int count = 0;
    for (size_t c = 0; c < cand.size(); ++c) {
        if (!cand[c].alive) continue;
        bool inside = true;
        for (int b = -1; b <= 1 && inside; ++b)
            for (int a = -1; a <= 1 && inside; ++a) inside = foreground(cand[c].x + a * bd, cand[c].y + b * bd);
        if (!inside) continue;
        if (count < capacity) {
            KxxMinutia &m = minutiae[count];
            m.x = cand[c].x;
            m.y = cand[c].y;
            m.kind = cand[c].kind;
            m.direction = float(cand[c].direction);
            if (m.direction >= float(2 * kPi)) m.direction = 0;
            m.quality = coherence ? coherence[size_t(cand[c].y / block) * g.cols + cand[c].x / block] : 1.0f;
        }
        ++count;
    }
    return count;
}

Image *kxxMarkMinutiae(Image *image, const KxxMinutia *minutiae, int count, uint32_t colour)
{
    if (!image) return nullptr;
    if (!(minutiae || count <= 0)) return kx::failed("minutiae || count <= 0", image);
    if (!typeOk(image)) return image;
    for (int i = 0; i < count; ++i) {
        const KxxMinutia &m = minutiae[i];
        // Far outside: nothing of the mark can show (and no overflow below).
        if (m.x < -64 || m.y < -64 || m.x > image->width + 64 || m.y > image->height + 64) continue;
        if (m.kind == KXX_MINUTIA_ENDING) {
            const int x0 = m.x - 3, y0 = m.y - 3, x1 = m.x + 3, y1 = m.y + 3;
            kxSetLine(image, x0, y0, x1, y0, colour);
            kxSetLine(image, x1, y0, x1, y1, colour);
            kxSetLine(image, x1, y1, x0, y1, colour);
            kxSetLine(image, x0, y1, x0, y0, colour);
        } else {
            kxSetEllipse(image, m.x, m.y, 4, 4, 0.0f, colour);
        }
        const double d = std::isfinite(m.direction) ? double(m.direction) : 0.0;
        kxSetLine(image, m.x, m.y, m.x + int(std::lround(10 * std::cos(d))), m.y + int(std::lround(10 * std::sin(d))),
                  colour);
    }
    return image;
}

int kxxPrintAnalyse(const Image *print, int dpi, const KxxPrintParams *params, Image *enhanced, Image *ridges,
                    Image *skeleton, KxxPrintFields *fields, KxxMinutia *minutiae, int capacity)
{
    if (!print) return kx::failed("print", -1);
    if (!(minutiae || capacity <= 0)) return kx::failed("minutiae || capacity <= 0", -1);
    if (!typeOk(print) || print->imageType != KIT_GRAY) return -1;
    KxxPrintParams p;
    if (params) p = *params;
    else if (!kxxPrintDefaults(&p, dpi)) return -1;
    if (!paramsOk(p)) return -1;
    const int w = print->width, h = print->height;
    if (enhanced && (!typeOk(enhanced) || enhanced->imageType != KIT_GRAY || enhanced->width != w ||
                     enhanced->height != h))
        return -1;
    if ((ridges && !usable(ridges, w, h)) || (skeleton && !usable(skeleton, w, h))) return -1;
    const Grid g = grid(print, p.block);
    const size_t n = size_t(g.cols) * g.rows;
    Scratch<float> f(3 * n);
    Scratch<uint8_t> m(2 * n);
    TempImage map(KIT_BIN, w, h);
    if (!f || !m || !map) return kx::failed("fields", -1);
    float *orientation = f.get(), *coherence = f.get() + n, *frequency = f.get() + 2 * n;
    // Each step below accepts what the checks above accepted; a failure is
    // scratch memory (reported by the step).
    if (!kxxPrintOrientation(print, p.block, p.smooth, orientation, coherence)) return -1;
    if (kxxPrintMask(print, p.block, coherence, &p, m.get()) < 0) return -1;
    uint8_t *measured = m.get() + n;
    if (kxxPrintFrequency(print, p.block, orientation, m.get(), &p, frequency, measured) < 0) return -1;
    if (cleanMask(measured, g.cols, g.rows, m.get()) < 0) return -1;
    // kxxPrintGabor reads the whole print before it writes: enhanced may be
    // the print itself.
    if (!kxxPrintGabor(print, p.block, orientation, frequency, m.get(), &p, enhanced, map.get())) return -1;
    const int found =
        kxxPrintMinutiae(map.get(), p.block, orientation, coherence, m.get(), &p, minutiae, capacity, skeleton);
    if (found < 0) return -1;
    if (ridges) {
        for (int y = 0; y < h; ++y) std::memcpy(row(ridges, y), row(map.get(), y), size_t(w));
        ridges->imageType = KIT_BIN;
    }
    if (fields) {
        fields->cols = g.cols;
        fields->rows = g.rows;
        if (fields->orientation) std::memcpy(fields->orientation, orientation, n * sizeof(float));
        if (fields->coherence) std::memcpy(fields->coherence, coherence, n * sizeof(float));
        if (fields->frequency) std::memcpy(fields->frequency, frequency, n * sizeof(float));
        if (fields->mask) std::memcpy(fields->mask, m.get(), n);
    }
    return found;
}

Image *kxxPrintEnhance(Image *print, int dpi)
{
    if (!print) return nullptr;
    kxxPrintAnalyse(print, dpi, nullptr, print, nullptr, nullptr, nullptr, nullptr, 0);
    return print;
}

Image *kxxPrintRidges(Image *print, int dpi)
{
    if (!print) return nullptr;
    kxxPrintAnalyse(print, dpi, nullptr, nullptr, print, nullptr, nullptr, nullptr, 0);
    return print;
}

}  // extern "C"
