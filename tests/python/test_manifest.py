"""The export manifest's generator: the header check finds each kind of
disagreement, and the generated outputs cover the manifest."""

import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "manifest"))
import generate  # noqa: E402

MANIFEST = generate.manifest.Manifest(os.path.join(ROOT, "include", "kxpre-exports.toml"))
HEADER = open(os.path.join(ROOT, "include", "kxpre.h")).read()


def problems_with(tmp_path, header_text):
    path = tmp_path / "kxpre.h"
    path.write_text(header_text)
    return generate.check_header(MANIFEST, str(path))


def test_the_header_agrees_with_the_manifest(tmp_path):
    assert problems_with(tmp_path, HEADER) == []


def test_each_disagreement_is_found(tmp_path):
    changed = (HEADER.replace("KX_API Image *kxMedian(Image *image, int windowSize);",
                              "KX_API Image *kxMedian(Image *image, float windowSize);")
               .replace("KX_API void kxThinning(Image *image);", "KX_API int kxThinning(Image *image);")
               .replace("KX_API Image *kxExpand(Image *image);", "")
               .replace("KX_API Image *kxRoberts(Image *image);",
                        "KX_API Image *kxRoberts(Image *image);\nKX_API int kxExtra(int a);"))
    problems = problems_with(tmp_path, changed)
    assert len(problems) == 4, problems
    assert any(p.startswith("kxMedian: parameters (Image *, float)") for p in problems)
    assert any(p.startswith("kxThinning: returns int in the header, void") for p in problems)
    assert any(p.startswith("kxExpand: in the manifest, not declared") for p in problems)
    assert any(p.startswith("kxExtra: declared in the header, missing") for p in problems)


def test_generated_outputs_cover_the_manifest():
    names = generate.exports(MANIFEST).split()
    assert names == [e.name for e in MANIFEST.exports]
    table = generate.pipe_table(MANIFEST)
    for e in MANIFEST.exports:
        assert (('"%s", "%s"' % (e.pipe, e.name)) in table) == (e.pipe is not None), e.name
