#!/bin/sh
# Doxygen input filter for the public headers, whose comments are plain C
# comments laid out as text.  The comment that opens a file becomes its
# @file description; every other comment that starts in column 0 documents
# the declaration after it: its first line is the summary and the rest is
# shown preformatted, as written.  Section banners and markers stay plain.
exec awk '
function opening(line) {
    return line ~ /^\/\* / && line !~ /^\/\* *(---|===)/ && line !~ /^\/\* @@/
}
NR == 1 && $0 == "/*" { print "/** @file"; inpre = 1; print " * <pre>"; next }
inpre {
    if ($0 ~ /^ *\*\/ *$/) { print " * </pre>"; print; inpre = 0; next }
    if ($0 ~ /\*\/ *$/) { sub(/\*\/ *$/, ""); print; print " * </pre> */"; inpre = 0; next }
    print; next
}
opening($0) {
    sub(/^\/\* /, "/** ")
    if ($0 ~ /\*\/ *$/) { print; next }
    print; print " * <pre>"; inpre = 1; next
}
{ print }
' "$1"
