#!/bin/sh
# Runs `tsexTool show path` on a real `multipath -ll` listing and checks that
# every path of the listing's maps is shown.
#
#   run_sample.sh SANSIM TSEXTOOL WORK_DIR SAMPLE
#
# SAMPLE is a listing posted publicly (../shared/samples/mpath-*.txt, never
# copied into the tree). The vendor word of each map header (the last word
# before the last comma) becomes QELMAR; a header without a vendor,product
# pair gets " QELMAR,LUN" appended, so that only its missing dm-N word can
# keep it out. The rewritten listing is the canned listing of a host that has
# nothing else: every dm and sd name in it gets a node that answers no SCSI
# command.
#
# Expected, from the listing alone, in listing order: for every path line of
# a map whose header has a dm-N word, the triple (address, /dev/dm-N,
# /dev/sdX). A header is a line holding "dm-", or one shaped like a header (a
# first word of 3 and 32 characters, or a second word of 35 characters in
# parentheses); a path line is a line of a map block that holds "sd" and not
# "size="; its sd name is the word starting at the first "sd"; its address is
# the first word of the line's second hyphen-separated segment (the text after
# the first run of hyphens, up to the next hyphen), or, when there is no word
# there, of its second underscore-separated segment ("#:#:#:#" when that word
# is not host:channel:target:lun). No such path: the output is "There is no path.".
#
# Checked: the path table's rows (address, vlun, path, and status "--" since
# no path answers TEST UNIT READY) equal the expected triples in order; exit
# status 0; nothing on standard error; the audit log holds only read-only
# opens and the four allowed commands.
# Exit 0 when every check holds, 1 otherwise, 77 (skipped) without root or
# without the sample.
set -u

SANSIM=$1
TSEXTOOL=$2
WORK=$3
SAMPLE=$4

if [ ! -f "$SAMPLE" ]; then
    echo "SKIP: no sample $SAMPLE (the samples folder is not there)"
    exit 77
fi
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: simulated hosts need root here (a private mount namespace per run)"
    exit 77
fi

rm -rf "$WORK"
mkdir -p "$WORK"

# The rewritten listing.
awk '
function is_header(line,    n, w) {
    if (index(line, "dm-") > 0) return 1
    n = split(line, w, " ")
    if (n >= 1 && length(w[1]) == 33 && substr(w[1], 1, 1) == "3") return 1
    if (n >= 2 && length(w[2]) == 35 && substr(w[2], 1, 2) == "(3" && substr(w[2], 35, 1) == ")") return 1
    return 0
}
{
    line = $0
    if (!is_header(line)) { print line; next }
    comma = 0
    for (i = length(line); i > 0; i--) if (substr(line, i, 1) == ",") { comma = i; break }
    if (comma == 0) { print line " QELMAR,LUN"; next }
    head = substr(line, 1, comma - 1)
    end = length(head)
    while (end > 0 && substr(head, end, 1) == " ") end--
    start = end
    while (start > 0 && substr(head, start, 1) != " ") start--
    print substr(head, 1, start) "QELMAR" substr(head, end + 1) substr(line, comma)
}' "$SAMPLE" >"$WORK/listing.txt"

cat >"$WORK/topology.json" <<'EOF'
{
  "comment": "A host whose multipath listing is a rewritten real listing, and nothing else.",
  "platform": "linux",
  "multipath": { "installed": true, "list_fails": false, "canned_listing": "listing.txt" }
}
EOF

# The expected rows, one "address vlun path" line each.
awk '
# Word 1 of segment 2 of the line, segments being the maximal runs of
# characters other than c; "" when either does not exist.
function word_of_segment2(line, c,    i, j, len, n, w) {
    len = length(line)
    i = 1
    while (i <= len && substr(line, i, 1) == c) i++
    while (i <= len && substr(line, i, 1) != c) i++
    while (i <= len && substr(line, i, 1) == c) i++
    if (i > len) return ""
    j = i
    while (j <= len && substr(line, j, 1) != c) j++
    n = split(substr(line, i, j - i), w, " ")
    return n >= 1 ? w[1] : ""
}
function address(text) {
    return text ~ /^[0-9]+:[0-9]+:[0-9]+:[0-9]+$/ ? text : "#:#:#:#"
}
{
    line = $0
    n = split(line, w, " ")
    header = index(line, "dm-") > 0 ||
        (n >= 1 && length(w[1]) == 33 && substr(w[1], 1, 1) == "3") ||
        (n >= 2 && length(w[2]) == 35 && substr(w[2], 1, 2) == "(3" && substr(w[2], 35, 1) == ")")
    if (header) {
        dm = ""
        for (k = 1; k <= n; k++) if (w[k] ~ /^dm-[0-9]+$/) { dm = w[k]; break }
        next
    }
    if (dm == "" || index(line, "size=") > 0) next
    s = index(line, "sd")
    if (s == 0) next
    split(substr(line, s), sw, " ")
    hctl = word_of_segment2(line, "-")
    if (hctl == "") hctl = word_of_segment2(line, "_")
    print address(hctl), "/dev/" dm, "/dev/" sw[1]
}' "$WORK/listing.txt" >"$WORK/expected"

"$SANSIM" run "$WORK/topology.json" --audit "$WORK/audit.log" -- \
    "$TSEXTOOL" show path >"$WORK/stdout" 2>"$WORK/stderr"
STATUS=$?

failures=0
fail() {
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$*"
}

echo "sample $(basename "$SAMPLE"): $(wc -l <"$WORK/expected") paths expected"
[ "$STATUS" = 0 ] || fail "exit status $STATUS, expected 0"

if [ -s "$WORK/expected" ]; then
    # The rows of the path table: between the heading row and the closing rule.
    awk '
        /^=+$/ { if (table) exit; next }
        $1 == "H:C:T:L" { table = 1; next }
        table { print $1, $2, $3; if ($4 != "--" || NF != 11) bad = bad NR " " }
        END { if (bad != "") print "BAD-ROWS " bad }
    ' "$WORK/stdout" >"$WORK/actual"
    if ! cmp -s "$WORK/expected" "$WORK/actual"; then
        fail "the path rows differ from the listing's paths (- expected, + actual; BAD-ROWS: lines whose status is not -- or that have not 11 cells)"
        diff -u "$WORK/expected" "$WORK/actual" | sed 's/^/  diff| /'
        sed 's/^/  stdout| /' "$WORK/stdout"
    fi
else
    if [ "$(cat "$WORK/stdout")" != "There is no path." ] || [ "$(wc -l <"$WORK/stdout")" != 1 ]; then
        fail "no path expected, but the output is not \"There is no path.\""
        sed 's/^/  stdout| /' "$WORK/stdout"
    fi
fi

if [ -s "$WORK/stderr" ]; then
    fail "standard error is not empty"
    sed 's/^/  stderr| /' "$WORK/stderr"
fi

if [ -f "$WORK/audit.log" ]; then
    bad=$(grep -Ev '^(open [^ ]+ access=ro( .*)?|scsi [^ ]+ op=0x(00|12|25|9e) .*access=ro( .*)?)$' \
        "$WORK/audit.log")
    if [ -n "$bad" ]; then
        fail "the audit log holds a write access or another command"
        printf '%s\n' "$bad" | sed 's/^/  audit| /'
    fi
else
    fail "no audit log was written"
fi

if [ "$failures" != 0 ]; then
    echo "$failures checks failed"
    exit 1
fi
echo "every path of the listing shown, status 0, stderr and audit as expected"
exit 0
