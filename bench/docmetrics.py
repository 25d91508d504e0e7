"""Scores for binarized documents and for recognised text.

Binary images here are boolean arrays with True for ink.  The scores follow
the document binarization contests' published definitions:

- F-measure: 2 R P / (R + P) with recall R = TP / (TP + FN) and precision
  P = TP / (TP + FP), ink the positive class, in percent.
- pseudo F-measure: the same with the pseudo-recall, the share of the ground
  truth's skeleton that the result covers (the skeleton by the two-subiteration
  thinning of Guo and Hall, the one the contests' tools use), as the
  2010-2012 contests define it; the weighted pseudo-recall and
  pseudo-precision of the later contests are not computed here.
- PSNR: 10 log10(C^2 / MSE) with C = 1, the difference between ink and
  paper, and MSE the share of pixels that differ.
- DRD: the sum, over the pixels the result gets wrong, of the 5 x 5 weighted
  distortion of each against the ground truth around it, divided by the
  number of 8 x 8 blocks of the ground truth that hold both ink and paper.

The text scores are edit distances: CER = characters inserted, deleted or
substituted / reference characters, WER the same on words, both after
collapsing white space.
"""

import numpy as np
from scipy import ndimage

# Neighbours of a pixel as (row, column) offsets in the order x1..x8 of the
# thinning's description: east, then counter-clockwise (up is row - 1).
_NEIGHBOURS = ((0, 1), (-1, 1), (-1, 0), (-1, -1), (0, -1), (1, -1), (1, 0), (1, 1))


def _thinning_tables():
    """Deletion tables of the two subiterations, indexed by the neighbour
    code sum(x_i << (i - 1))."""
    first = np.zeros(256, bool)
    second = np.zeros(256, bool)
    for code in range(256):
        x = [(code >> i) & 1 for i in range(8)]
        x.append(x[0])  # x9 = x1
        # x[k] is x_(k+1)
        crossings = sum(1 for i in range(4) if x[2 * i] == 0 and (x[2 * i + 1] or x[2 * i + 2]))
        n1 = sum(1 for k in range(4) if x[2 * k] or x[2 * k + 1])
        n2 = sum(1 for k in range(4) if x[2 * k + 1] or x[(2 * k + 2) % 8])
        if crossings != 1 or not 2 <= min(n1, n2) <= 3:
            continue
        x1, x2, x3, x4, x5, x6, x7, x8 = x[:8]
        first[code] = ((x2 or x3 or not x8) and x1) == 0
        second[code] = ((x6 or x7 or not x4) and x5) == 0
    return first, second


_FIRST, _SECOND = _thinning_tables()


def _codes(image):
    padded = np.pad(image, 1)
    h, w = image.shape
    code = np.zeros(image.shape, np.uint16)
    for bit, (dy, dx) in enumerate(_NEIGHBOURS):
        code |= padded[1 + dy:1 + dy + h, 1 + dx:1 + dx + w].astype(np.uint16) << bit
    return code


def thin(ink):
    """The one-pixel-wide skeleton of a boolean image, thinned until nothing
    changes."""
    image = np.ascontiguousarray(ink, dtype=bool).copy()
    while True:
        changed = False
        for table in (_FIRST, _SECOND):
            delete = image & table[_codes(image)]
            if delete.any():
                image &= ~delete
                changed = True
        if not changed:
            return image


def drd_weights(m=5):
    """The normalised m x m weight matrix: 1 / distance to the centre, 0 at
    the centre, summing to 1."""
    c = (m - 1) / 2.0
    i, j = np.mgrid[0:m, 0:m]
    d = np.hypot(i - c, j - c)
    w = np.zeros((m, m))
    w[d > 0] = 1.0 / d[d > 0]
    return w / w.sum()


def nubn(truth, block=8):
    """The number of block x block tiles of the ground truth (from the top
    left; the partial tiles at the right and bottom edges count as tiles)
    that hold both ink and paper."""
    h, w = truth.shape
    rows = -(-h // block)
    cols = -(-w // block)
    ink = np.zeros((rows * block, cols * block), np.int64)
    ink[:h, :w] = truth
    size = np.zeros_like(ink)
    size[:h, :w] = 1
    ink_count = ink.reshape(rows, block, cols, block).sum(axis=(1, 3))
    pixels = size.reshape(rows, block, cols, block).sum(axis=(1, 3))
    return int(np.count_nonzero((ink_count > 0) & (ink_count < pixels)))


def drd(result, truth, m=5, block=8):
    """Distance reciprocal distortion of a result against the ground truth.
    Around each wrong pixel the m x m window of the ground truth is weighed;
    window positions outside the image add nothing."""
    weights = drd_weights(m)
    truth_ink = truth.astype(np.float64)
    truth_paper = (~truth).astype(np.float64)
    # A wrong ink pixel is distorted by the ground truth's paper around it,
    # a wrong paper pixel by the ground truth's ink.
    near_paper = ndimage.correlate(truth_paper, weights, mode="constant", cval=0.0)
    near_ink = ndimage.correlate(truth_ink, weights, mode="constant", cval=0.0)
    wrong = result != truth
    total = near_paper[wrong & result].sum() + near_ink[wrong & ~result].sum()
    blocks = nubn(truth, block)
    return float(total / blocks) if blocks else float("inf") if total else 0.0


def scores(result, truth):
    """F-measure, pseudo F-measure, PSNR and DRD (a dict) of a boolean ink
    image against the boolean ground truth of the same shape."""
    if result.shape != truth.shape:
        raise ValueError("result %s and ground truth %s differ in size" % (result.shape, truth.shape))
    result = np.asarray(result, bool)
    truth = np.asarray(truth, bool)
    tp = np.count_nonzero(result & truth)
    fp = np.count_nonzero(result & ~truth)
    fn = np.count_nonzero(~result & truth)
    precision = tp / (tp + fp) if tp + fp else 0.0
    recall = tp / (tp + fn) if tp + fn else 0.0
    skeleton = thin(truth)
    sk = np.count_nonzero(skeleton)
    precall = np.count_nonzero(skeleton & result) / sk if sk else 0.0

    def f(r, p):
        return 200.0 * r * p / (r + p) if r + p else 0.0

    mse = (fp + fn) / truth.size
    psnr = 10.0 * np.log10(1.0 / mse) if mse else float("inf")
    return {"fm": f(recall, precision), "pfm": f(precall, precision), "psnr": psnr, "drd": drd(result, truth)}


def edit_distance(a, b):
    """Levenshtein distance between two sequences (strings or lists of
    hashable items): unit-cost insertions, deletions and substitutions."""
    if len(a) < len(b):
        a, b = b, a
    if not b:
        return len(a)
    symbols = {}
    a_ids = np.array([symbols.setdefault(s, len(symbols)) for s in a], np.int64)
    b_ids = np.array([symbols.setdefault(s, len(symbols)) for s in b], np.int64)
    m = len(b_ids)
    steps = np.arange(m + 1, dtype=np.int64)
    row = steps.copy()
    for i, s in enumerate(a_ids, 1):
        # Substitution or match from the diagonal, deletion from above; an
        # insertion from the left is a running minimum of (value - column).
        cand = np.empty(m + 1, np.int64)
        cand[0] = i
        np.minimum(row[:-1] + (b_ids != s), row[1:] + 1, out=cand[1:])
        row = np.minimum.accumulate(cand - steps) + steps
    return int(row[-1])


def normalise_text(text):
    return " ".join(text.split())


def cer(hypothesis, reference):
    ref = normalise_text(reference)
    return edit_distance(normalise_text(hypothesis), ref) / max(len(ref), 1)


def wer(hypothesis, reference):
    ref = normalise_text(reference).split()
    return edit_distance(normalise_text(hypothesis).split(), ref) / max(len(ref), 1)


def selftest():
    """Hand-worked cases; raises AssertionError on the first wrong score."""
    near = np.isclose
    w = w_ = drd_weights()
    total = 4 + 4 / np.sqrt(2) + 4 / 2 + 8 / np.sqrt(5) + 4 / np.sqrt(8)
    assert near(w.sum(), 1) and w[2, 2] == 0 and near(w[2, 3], 1 / total) and near(w[0, 0], 1 / np.sqrt(8) / total)

    truth = np.zeros((16, 16), bool)
    truth[2, 2] = True
    assert nubn(truth) == 1
    assert nubn(np.zeros((9, 9), bool)) == 0
    edge = np.zeros((9, 9), bool)
    edge[8, 8] = True  # alone in a one-pixel tile: uniform
    assert nubn(edge) == 0
    edge[8, 0] = True  # a 1 x 8 tile with ink among paper
    assert nubn(edge) == 1
    edge[7, 0] = True  # and the full tile above it
    assert nubn(edge) == 2

    # An isolated false ink pixel on paper: every weight counts.
    result = truth.copy()
    result[12, 12] = True
    assert near(drd(result, truth), 1.0)
    # Next to the true ink pixel: all but the weight of that neighbour.
    result = truth.copy()
    result[2, 3] = True
    assert near(drd(result, truth), 1 - 1 / total)
    # A missed isolated pixel has no ink around it in the ground truth.
    assert drd(np.zeros_like(truth), truth) == 0.0
    # In the corner only the window's part inside the image counts.
    result = truth.copy()
    result[15, 15] = True
    assert near(drd(result, truth), w[:3, :3].sum())
    # A missed pixel inside a solid ink square: all weights.
    square = np.zeros((16, 16), bool)
    square[2:13, 2:13] = True
    hole = square.copy()
    hole[7, 7] = False
    assert near(drd(hole, square), 1.0 / nubn(square)) and nubn(square) == 4

    s = scores(truth, truth)
    assert s["fm"] == 100 and s["pfm"] == 100 and s["psnr"] == float("inf") and s["drd"] == 0
    # 10 x 10 ink square; the result finds its left 6 columns and 20 paper pixels.
    truth = np.zeros((20, 20), bool)
    truth[5:15, 5:15] = True
    result = np.zeros_like(truth)
    result[5:15, 5:11] = True
    result[0, 0:20] = True
    s = scores(result, truth)
    p, r = 60 / 80, 60 / 100
    assert near(s["fm"], 200 * p * r / (p + r))
    assert near(s["psnr"], 10 * np.log10(400 / 60))
    sk = thin(truth)
    pr = np.count_nonzero(sk & result) / np.count_nonzero(sk)
    assert near(s["pfm"], 200 * p * pr / (p + pr))

    # Thinning: a bar becomes a line, a single pixel and a line stay.
    bar = np.zeros((9, 20), bool)
    bar[3:6, 2:18] = True
    sk = thin(bar)
    assert sk.sum() > 0 and (sk.sum(axis=0) <= 1).all() and (sk & ~bar).sum() == 0
    assert (thin(truth & False) == 0).all()
    dot = np.zeros((5, 5), bool)
    dot[2, 2] = True
    assert (thin(dot) == dot).all()
    line = np.zeros((5, 9), bool)
    line[2, 1:8] = True
    assert (thin(line) == line).all()
    try:
        from skimage.morphology import thin as reference_thin
    except ImportError:
        reference_thin = None
    if reference_thin is not None:
        rng = np.random.default_rng(5)
        for _ in range(20):
            blob = ndimage.binary_dilation(rng.random((40, 50)) < 0.04, iterations=int(rng.integers(1, 4)))
            assert (thin(blob) == reference_thin(blob)).all()

    # DRD as the contests write it, pixel by pixel: for the k-th wrong pixel
    # (x, y), DRD_k = sum over the 5 x 5 window of |GT(i, j) - B(x, y)| W(i, j);
    # NUBN counted block by block.
    rng = np.random.default_rng(9)
    for _ in range(10):
        h, w = (int(v) for v in rng.integers(5, 30, 2))
        gt = ndimage.binary_dilation(rng.random((h, w)) < 0.08)
        b = gt ^ (rng.random((h, w)) < 0.1)
        total = 0.0
        for y, x in zip(*np.nonzero(b != gt)):
            for dy in range(-2, 3):
                for dx in range(-2, 3):
                    if 0 <= y + dy < h and 0 <= x + dx < w:
                        total += abs(int(gt[y + dy, x + dx]) - int(b[y, x])) * w_[dy + 2, dx + 2]
        blocks = sum(1 for by in range(0, h, 8) for bx in range(0, w, 8)
                     if 0 < gt[by:by + 8, bx:bx + 8].sum() < gt[by:by + 8, bx:bx + 8].size)
        assert blocks == nubn(gt)
        assert near(drd(b, gt), total / blocks if blocks else (float("inf") if total else 0.0))
        # F-measure and PSNR from the counts.
        tp, fp, fn = (b & gt).sum(), (b & ~gt).sum(), (~b & gt).sum()
        s = scores(b, gt)
        assert near(s["fm"], 200.0 * tp / (2 * tp + fp + fn) if tp else 0.0)
        assert near(s["psnr"], 10 * np.log10(h * w / (fp + fn)) if fp + fn else float("inf"))

    assert edit_distance("kitten", "sitting") == 3
    assert edit_distance("", "abc") == 3 and edit_distance("abc", "abc") == 0
    assert edit_distance("flaw", "lawn") == 2 and edit_distance("lawn", "flaw") == 2
    assert edit_distance("abcdef", "azced") == 3
    assert edit_distance(["a", "b"], ["b"]) == 1
    rng = np.random.default_rng(1)
    for _ in range(50):
        a = "".join(rng.choice(list("abc"), int(rng.integers(0, 8))))
        b = "".join(rng.choice(list("abc"), int(rng.integers(0, 8))))
        d = list(range(len(b) + 1))
        for i, ca in enumerate(a, 1):
            prev, d[0] = d[0], i
            for j, cb in enumerate(b, 1):
                prev, d[j] = d[j], min(d[j] + 1, d[j - 1] + 1, prev + (ca != cb))
        assert edit_distance(a, b) == d[-1], (a, b)
    assert near(cer(" the  cat\n", "the cat"), 0) and near(cer("the bat", "the cat"), 1 / 7)
    assert near(wer("the bat sat", "the cat sat"), 1 / 3) and wer("", "a b") == 1
