"""The export manifests: the header check finds each kind of disagreement,
and libkxextra's manifest agrees with its header.  (The generated export
list and kxpipe table are used by the exported symbols test and by every
export's kxpipe run in test_kxpre.)"""

import os
import sys

import kxpre
from kxpre import extra

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "manifest"))
import generate  # noqa: E402

MANIFEST = generate.manifest.Manifest(os.path.join(ROOT, "include", "kxpre-exports.toml"))
HEADER = open(os.path.join(ROOT, "include", "kxpre.h")).read()


def test_the_header_check_finds_each_disagreement_and_only_those(tmp_path):
    path = tmp_path / "kxpre.h"
    path.write_text(HEADER)
    assert generate.check_header(MANIFEST, str(path)) == []
    path.write_text(HEADER.replace("KX_API Image *kxMedian(Image *image, int windowSize);",
                                   "KX_API Image *kxMedian(Image *image, float windowSize);")
                    .replace("KX_API void kxThinning(Image *image);", "KX_API int kxThinning(Image *image);")
                    .replace("KX_API Image *kxExpand(Image *image);", "")
                    .replace("KX_API Image *kxRoberts(Image *image);",
                             "KX_API Image *kxRoberts(Image *image);\nKX_API int kxExtra(int a);"))
    problems = generate.check_header(MANIFEST, str(path))
    assert len(problems) == 5, problems
    for start in ("kxMedian: parameters (Image *, float)", "kxThinning: returns int in the header, void",
                  "kxExpand: in the manifest, not declared", "kxExpand: the manifest's notes",
                  "kxExtra: declared in the header, missing"):
        assert any(p.startswith(start) for p in problems), start


def test_extra_manifest_agrees_with_the_header_and_leaves_only_array_functions_out():
    problems = generate.check_header(extra.MANIFEST, os.path.join(ROOT, "extra", "include", "kxextra.h"))
    hand_written = {"kxxLabel", "kxxComponentStats", "kxxStrokePoints", "kxxHistogramLevel", "kxxMultiLevels",
                    "kxxLocalLevels", "kxxGradient", "kxxCleanPage",
                    "kxxDespeckle",  # kxxDespeckleEx with value 1, which the manifest describes
                    # pages: a KxxPageMeasures record, a destination of its own size
                    "kxxMeasurePage", "kxxBinarizeDocumentEx", "kxxEstimatePaper",
                    # fingerprints: fields, records and lists (python/kxpre/fingerprint.py)
                    "kxxPrintDefaults", "kxxPrintOrientation", "kxxPrintMask", "kxxPrintFrequency",
                    "kxxPrintGabor", "kxxPrintMinutiae", "kxxMarkMinutiae", "kxxPrintAnalyse"}
    assert sorted(problems) == sorted("%s: declared in the header, missing from the manifest" % n for n in hand_written)
    # Each export once in the export list, though the local threshold has five entries.
    assert generate.exports(extra.MANIFEST).count("kxxLocalThreshold\n") == 1


def test_the_header_check_keeps_the_notes_docstrings_carry_equal_to_the_header(tmp_path):
    path = tmp_path / "kxpre.h"
    path.write_text(HEADER.replace("(0, not 255)", "(255, not 0)"))
    assert generate.check_header(MANIFEST, str(path)) == ["kxSobel: the manifest's notes are not the header's comment"]
    # help() shows them: sobel's out-of-range responses, remove_border's side neighbours
    assert "(0, not 255)" in kxpre.sobel.__doc__ and "side\n" in kxpre.remove_border.__doc__
    assert "deviation below 1" in kxpre.normalize.__doc__ and "forest" in extra.label.__doc__


def test_the_header_check_compares_enums_and_limits_with_the_defines(tmp_path):
    path = tmp_path / "kxpre.h"
    path.write_text(HEADER.replace("#define KX_MERGE_XOR 1206", "#define KX_MERGE_XOR 1216")
                    .replace("#define KX_TEXT_ITALIC 0x4\n", ""))
    assert generate.check_header(MANIFEST, str(path)) == [
        "Merge.XOR: 1206 in the manifest, KX_MERGE_XOR 1216 in the header",
        "Text.ITALIC: no #define KX_TEXT_ITALIC in the header"]
    vision = os.path.join(ROOT, "platform", "vision", "include", "kxvision.h")
    defines = generate.header_defines(str(path), generate.include_folders(MANIFEST.path))
    assert defines["KXV_MAX_WINDOW"] == MANIFEST.limits["KXV_MAX_WINDOW"] and "KXV_MAX_WINDOW" in open(vision).read()
    assert defines["KXM_ELLIPSE"] == kxpre.Shape.ELLIPSE  # the element shapes, from kxmask.h
    assert [a.max for e in MANIFEST.exports for a in e.args if a.max == 4095]  # the limit names a bound
