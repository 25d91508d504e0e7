"""The export manifests: the header check finds each kind of disagreement,
and libkxextra's manifest agrees with its header.  (The generated export
list and kxpipe table are used by the exported symbols test and by every
export's kxpipe run in test_kxpre.)"""

import os
import sys

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
    assert len(problems) == 4, problems
    for start in ("kxMedian: parameters (Image *, float)", "kxThinning: returns int in the header, void",
                  "kxExpand: in the manifest, not declared", "kxExtra: declared in the header, missing"):
        assert any(p.startswith(start) for p in problems), start


def test_extra_manifest_agrees_with_the_header_and_leaves_only_array_functions_out():
    problems = generate.check_header(extra.MANIFEST, os.path.join(ROOT, "extra", "include", "kxextra.h"))
    hand_written = {"kxxLabel", "kxxComponentStats", "kxxStrokePoints", "kxxHistogramLevel", "kxxMultiLevels",
                    "kxxLocalLevels", "kxxGradient",
                    # fingerprints: fields, records and lists (python/kxpre/fingerprint.py)
                    "kxxPrintDefaults", "kxxPrintOrientation", "kxxPrintMask", "kxxPrintFrequency",
                    "kxxPrintGabor", "kxxPrintMinutiae", "kxxMarkMinutiae", "kxxPrintAnalyse"}
    assert sorted(problems) == sorted("%s: declared in the header, missing from the manifest" % n for n in hand_written)
    # Each export once in the export list, though the local threshold has five entries.
    assert generate.exports(extra.MANIFEST).count("kxxLocalThreshold\n") == 1
