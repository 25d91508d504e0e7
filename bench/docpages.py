"""Generated document pages with known text and known degradations.

Each page is rendered by kxpre's text drawing (kxFillTextEx) in black on white,
turned into an ink coverage map (0 paper .. 1 ink), optionally turned by a
known angle, and then printed onto a degraded sheet: uneven light, low
contrast, show-through of a mirrored verso, stains, blur, noise and JPEG.
Everything comes from one seeded generator per page, so every run makes the
same pages.
"""

import io
import textwrap

import numpy as np
from PIL import Image
from scipy import ndimage

WORDS = """
the of and to in is was that for it with as on be at by this had not are but from or have an they which
one you were all her she there would their we him been has when who will more no if out so said what up
its about into than them can only other new some could time these two may then do first any my now such
like our over man me even most made after also did many before must through back years where much your
way well down should because each just those people how too little state good very make world still own
see men work long get here between both life being under never day same another know while last might us
great old year off come since against go came right used take three small house water light place letter
river garden window morning evening village market harbour station bridge mountain forest summer winter
paper ink press report council number page table account price journal chapter volume office letter
minister travel history family school church street country morning quiet careful simple ready
""".split()

FACES = ("Times New Roman", "Arial", "Courier New", "DejaVu Serif", "DejaVu Sans")

# What each page suffers, in page order.  "turn" pages are turned by a known
# angle; the others lie straight.
RECIPES = (
    ("clean", ()),
    ("uneven light", ("light",)),
    ("low contrast", ("faint",)),
    ("bleed-through", ("bleed",)),
    ("stains", ("stains",)),
    ("blur", ("blur",)),
    ("noise", ("noise",)),
    ("JPEG", ("jpeg",)),
    ("turned", ("turn",)),
    ("light, blur, JPEG", ("light", "blur", "jpeg")),
    ("low contrast, noise, turned", ("faint", "noise", "turn")),
    ("bleed-through, stains", ("bleed", "stains")),
    ("uneven light, turned", ("light", "turn")),
    ("blur, noise, JPEG, turned", ("blur", "noise", "jpeg", "turn")),
    ("low contrast, bleed-through, turned", ("faint", "bleed", "turn")),
    ("everything", ("light", "bleed", "stains", "blur", "noise", "jpeg", "turn")),
)
QUICK = (2, 3, 9, 15)


def sentence_text(rng, words):
    """Sentences of common words, with now and then a comma or a number."""
    out = []
    while len(out) < words:
        n = int(rng.integers(5, 13))
        s = [str(rng.choice(WORDS)) for _ in range(n)]
        if rng.random() < 0.3:
            s.insert(int(rng.integers(1, n)), str(int(rng.integers(2, 1999))))
        if rng.random() < 0.4:
            k = int(rng.integers(1, len(s) - 1))
            s[k] += ","
        s[0] = s[0].capitalize()
        s[-1] += "." if rng.random() < 0.85 else "?"
        out += s
    return " ".join(out)


def render_coverage(kxpre, text, face, em, width_px):
    """Ink coverage (float32, 0..1) of the text wrapped to about width_px,
    cropped to its ink; the text's lines joined with line feeds."""
    per_char = 0.6 if "Courier" in face or "Mono" in face else 0.47
    columns = max(20, int(width_px / (per_char * em)))
    lines = textwrap.wrap(text, columns)
    block = "\n".join(lines)
    canvas = np.full((int(em * 1.6 * (len(lines) + 2)), int(width_px * 1.6) + 4 * em), 255, np.uint8)
    drawn = kxpre.fill_text_ex(canvas, block, em, em, face, em, 0xFF000000, 0xFFFFFFFF)
    grey = drawn[..., 1] if drawn.ndim == 3 else drawn
    coverage = 1.0 - grey.astype(np.float32) / 255.0
    rows = np.nonzero(coverage.max(axis=1) > 0.02)[0]
    cols = np.nonzero(coverage.max(axis=0) > 0.02)[0]
    if cols[-1] >= canvas.shape[1] - 2 or rows[-1] >= canvas.shape[0] - 2:
        raise RuntimeError("text block does not fit its canvas")
    return coverage[rows[0]:rows[-1] + 1, cols[0]:cols[-1] + 1], lines


def _smooth_field(rng, shape, scale):
    """A smooth random field, 0..1, varying over about `scale` pixels."""
    h, w = shape
    small = rng.random((max(2, h // scale + 2), max(2, w // scale + 2)))
    field = ndimage.zoom(small, (h / (small.shape[0] - 1), w / (small.shape[1] - 1)), order=3)[:h, :w]
    field = np.clip(field, 0, 1)
    return (field - field.min()) / max(field.max() - field.min(), 1e-9)


def make_page(kxpre, index, seed=20261207):
    """Page `index` of the set: a dict with the grey page (uint8), its text,
    dpi, face, size, the angle it was turned by (degrees, counter-clockwise
    on screen) and what it suffers."""
    rng = np.random.default_rng([seed, index])
    name, effects = RECIPES[index % len(RECIPES)]
    dpi = (150, 200, 300)[index % 3]
    face = FACES[index % len(FACES)]
    points = (9, 10, 11, 12)[(index // 3) % 4]
    em = int(round(points / 72.0 * dpi))
    text_width = int(4.6 * dpi)  # a 4.6 inch column, A5-ish with margins
    words = int(95 * 11.0 / points)
    text = sentence_text(rng, words)
    coverage, lines = render_coverage(kxpre, text, face, em, text_width)

    angle = 0.0
    if "turn" in effects:
        angle = float(rng.uniform(1.0, 4.0) * rng.choice([-1, 1]))
        coverage = np.asarray(Image.fromarray(coverage, "F").rotate(angle, Image.BILINEAR, expand=True))
    margin = int(0.35 * dpi)
    coverage = np.pad(coverage, margin)
    h, w = coverage.shape

    paper, ink = float(rng.uniform(215, 240)), float(rng.uniform(15, 45))
    light = np.ones((h, w), np.float32)
    if "light" in effects or "faint" in effects:
        # Light falls off from a point near one corner.
        cy, cx = rng.uniform(-0.2, 0.4) * h, rng.uniform(-0.2, 1.2) * w
        yy, xx = np.mgrid[0:h, 0:w]
        r = np.hypot(yy - cy, xx - cx)
        fall = 0.59 if "faint" in effects else float(rng.uniform(0.35, 0.55))
        light = (1.0 - fall * r / r.max()).astype(np.float32)
    if "faint" in effects:
        paper, ink = 177.0, 129.0
    sheet = np.full((h, w), paper, np.float32)
    if "bleed" in effects:
        verso, _ = render_coverage(kxpre, sentence_text(rng, words), FACES[(index + 2) % len(FACES)], em, text_width)
        verso = ndimage.gaussian_filter(verso[:, ::-1], 0.12 * em / 10.0 + 0.8)
        vh, vw = min(verso.shape[0], h - margin // 2), min(verso.shape[1], w - margin // 2)
        oy, ox = int(rng.integers(0, h - vh + 1)), int(rng.integers(0, w - vw + 1))
        sheet[oy:oy + vh, ox:ox + vw] -= float(rng.uniform(0.25, 0.4)) * (paper - ink) * verso[:vh, :vw]
    if "stains" in effects:
        for _ in range(int(rng.integers(2, 5))):
            sy, sx = rng.uniform(0, h), rng.uniform(0, w)
            ry, rx = rng.uniform(0.05, 0.2) * h, rng.uniform(0.05, 0.2) * w
            yy, xx = np.ogrid[0:h, 0:w]
            blob = np.exp(-(((yy - sy) / ry) ** 2 + ((xx - sx) / rx) ** 2) ** 2)
            rim = np.exp(-((np.sqrt(((yy - sy) / ry) ** 2 + ((xx - sx) / rx) ** 2) - 1.0) / 0.08) ** 2)
            sheet -= (float(rng.uniform(0.12, 0.3)) * paper * blob + 0.15 * paper * rim).astype(np.float32)
    page = sheet * (1.0 - coverage) + ink * coverage
    page *= light
    if "blur" in effects:
        page = ndimage.gaussian_filter(page, float(rng.uniform(0.8, 1.4)) * dpi / 200.0)
    if "noise" in effects:
        page += rng.normal(0.0, float(rng.uniform(8, 14)), page.shape).astype(np.float32)
    else:
        page += rng.normal(0.0, 2.0, page.shape).astype(np.float32)  # a scanner's own noise
    grey = np.clip(np.rint(page), 0, 255).astype(np.uint8)
    if "jpeg" in effects:
        buf = io.BytesIO()
        Image.fromarray(grey).save(buf, "JPEG", quality=int(rng.integers(20, 40)))
        buf.seek(0)
        grey = np.asarray(Image.open(buf).convert("L"), np.uint8).copy()
    return {
        "index": index,
        "name": "page%02d" % index,
        "recipe": name,
        "grey": grey,
        "text": "\n".join(lines),
        "dpi": dpi,
        "face": face,
        "points": points,
        "angle": angle,
    }
