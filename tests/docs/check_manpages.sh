#!/bin/sh
# Checks the manual pages tsexTool(8) and ts_showdisk(8).
#
#   check_manpages.sh groff PAGE
#       groff -man -ww -z prints nothing and succeeds (77 without groff).
#   check_manpages.sh words-tsexTool SRCROOT PAGE
#   check_manpages.sh words-ts_showdisk SRCROOT PAGE
#       every command word, option, table heading and message that the
#       program's source holds appears in the page, in the section where it
#       belongs; the required sections are there. The words are read from
#       the sources, so that a new word without documentation fails.
#   check_manpages.sh selftest SRCROOT WORKDIR
#       damaged copies of the pages must fail the checks above.
set -u
set -f  # words such as "?" are no file patterns

# Lists are one item a line; loops split them at line ends only.
NL='
'
IFS=$NL

fail=0
complain() {
    echo "FAIL: $*"
    fail=1
}

# The page's text without the groff markup: macro names, font and
# character escapes and the quotes of macro arguments dropped, lines joined
# with one blank between words. Argument 2 limits it to one section.
page_text() {
    sed -e '/^\.\\"/d' "$1" |
        awk -v want="${2:-}" '
            /^\.SH / { name = substr($0, 5); gsub(/"/, "", name); inside = (name == want) }
            want == "" || inside { print }' |
        sed -e '/^\.[A-Za-z][A-Za-z]*/{s/^\.[A-Za-z][A-Za-z]* *//;s/"//g;}' \
            -e 's/\\c$//' -e 's/\\f[BIRP]//g' \
            -e 's/\\(lq//g' -e 's/\\(rq//g' -e 's/\\(dq/"/g' -e 's/\\(bu//g' \
            -e 's/\\(ti/~/g' -e 's/\\(ga/`/g' -e 's/\\(ha/^/g' \
            -e 's/\\-/-/g' -e 's/\\&//g' -e 's/\\e/\\/g' |
        tr '\n' ' ' | tr -s ' '
}

# need_word TEXT WORD WHERE: WORD stands in TEXT as a word of its own.
need_word() {
    [ -z "${MANPAGE_CHECK_LIST:-}" ] || echo "word: $2 ($3)"
    printf '%s\n' "$1" | grep -Fqw -e "$2" || complain "\"$2\" is missing from $3"
}

# need_text TEXT PIECE WHERE: PIECE (blanks squeezed) is part of TEXT.
need_text() {
    piece=$(printf '%s' "$2" | tr -s ' ')
    [ -z "${MANPAGE_CHECK_LIST:-}" ] || echo "text: $piece ($3)"
    printf '%s\n' "$1" | grep -Fq -e "$piece" || complain "\"$piece\" is missing from $3"
}

need_sections() {
    page=$1
    shift
    for section in "$@"; do
        grep -q "^\.SH \"\{0,1\}$section\"\{0,1\}\$" "$page" ||
            complain "section $section is missing from $page"
    done
}

# The literals of a C++ source (one per line, without the quotes) that
# lines matching PATTERN hold.
literals() {
    grep -e "$2" "$1" | grep -o '"[^"]*"' | sed -e 's/^"//' -e 's/"$//'
}

# Texts that a format prints as they stand: the pieces between the
# conversions, without line ends.
fixed_pieces() {
    sed -e 's/\\n/\n/g' -e 's/%[-0-9.*]*l\{0,1\}[sdfuc]/\n/g' |
        sed -e 's/^ *//' -e 's/ *$//' | grep -v '^$'
}

# count_at_least N WHAT LIST: the extraction found something.
count_at_least() {
    found=$(printf '%s\n' "$3" | grep -c -v '^$')
    [ "$found" -ge "$1" ] || complain "only $found $2 found in the sources (at least $1 expected)"
}

check_groff() {
    command -v groff >/dev/null 2>&1 || { echo "SKIP: groff is not installed"; exit 77; }
    out=$(groff -man -ww -z "$1" 2>&1)
    status=$?
    [ "$status" -eq 0 ] || complain "groff exits $status on $1"
    [ -z "$out" ] || complain "groff warns on $1: $out"
    # As man shows it on an 80-column terminal: no warning (a table wider
    # than the line) and no line longer than 80 characters.
    out=$(groff -t -man -Tascii -rLL=80n -rLT=80n -ww -P-cbou "$1" 2>&1 >/dev/null)
    [ -z "$out" ] || complain "groff warns at 80 columns on $1: $out"
    wide=$(groff -t -man -Tascii -rLL=80n -rLT=80n -P-cbou "$1" 2>/dev/null |
        awk 'length($0) > 80' | head -n 3)
    [ -z "$wide" ] || complain "lines wider than 80 columns in $1:$NL$wide"
}

check_tsextool() {
    src=$1 page=$2
    need_sections "$page" NAME SYNOPSIS DESCRIPTION COMMANDS TABLES ALARMS "EXIT STATUS" \
        FILES NOTES EXAMPLES
    all=$(page_text "$page")
    synopsis=$(page_text "$page" SYNOPSIS)
    commands=$(page_text "$page" COMMANDS)
    tables=$(page_text "$page" TABLES)

    # Command words: the two command tables, and the words that the
    # handlers compare.
    words=$(sed -n '/g_stTstoolOp[A-Za-z]*Type\[.*= {/,/^};/p' "$src/tool/tstool.cpp" |
        grep -o '{"[^"]*"' | sed -e 's/^{"//' -e 's/"$//'
        literals "$src/tool/tstool.cpp" 'strcmp(argv\[[^]]*\], "' | grep -v '^$')
    count_at_least 11 "command words" "$words"
    for word in $words; do
        need_word "$synopsis" "$word" "SYNOPSIS"
        need_word "$commands" "$word" "COMMANDS"
    done

    # Table headings.
    headings=$(grep -o '{"[^"]*", g_ui' "$src/tool/rendering/tsprint.cpp" |
        sed -e 's/^{"//' -e 's/", g_ui$//' | sort -u)
    count_at_least 20 "table headings" "$headings"
    for heading in $headings; do
        need_word "$tables" "$heading" "TABLES"
    done

    # Messages: every fixed message of the command line, the messages that
    # say that nothing was found, the alarm level and the alarm sentences.
    messages=$(
        literals "$src/tool/tstool.cpp" 'constexpr const char\* k[A-Za-z]* = "' | fixed_pieces
        literals "$src/tool/tstool.cpp" 'Say("' | fixed_pieces
        grep -ho '"There is no[^"]*"' "$src/tool/tstool.cpp" "$src/tool/rendering/tsprint.cpp" |
            sed -e 's/^"//' -e 's/"$//' | fixed_pieces
        literals "$src/tool/checks/tsalarm.cpp" 'kMajor = "'
        # One sentence a statement: its literals joined, cut at the
        # conversions and full stops.
        sed -n '/^void FillUpAlarmDescription/,/^}/p' "$src/tool/checks/tsalarm.cpp" |
            awk '{
                    line = $0
                    while (match(line, /"[^"]*"/)) {
                        text = text substr(line, RSTART + 1, RLENGTH - 2)
                        line = substr(line, RSTART + RLENGTH)
                    }
                    if ($0 ~ /\);/ && text != "") { print text; text = "" }
                }' |
            sed -e 's/%s/\n/g' -e 's/\./\n/g' | sed -e 's/^ *//' -e 's/ *$//' | grep -v '^$'
    )
    count_at_least 25 "messages" "$messages"
    for message in $messages; do
        need_text "$all" "$message" "the page"
    done
}

check_showdisk() {
    src=$1 page=$2
    need_sections "$page" NAME SYNOPSIS DESCRIPTION OPTIONS TABLE "ESXI BUILD" \
        "SOLARIS BUILD" "EXIT STATUS" FILES NOTES EXAMPLES
    all=$(page_text "$page")
    synopsis=$(page_text "$page" SYNOPSIS)
    options=$(page_text "$page" OPTIONS)
    table=$(page_text "$page" TABLE)
    esxi=$(page_text "$page" "ESXI BUILD")
    solaris=$(page_text "$page" "SOLARIS BUILD")
    run_src=$src/showdisk/showdisk_run.cpp
    table_src=$src/showdisk/luntable.cpp
    solaris_src=$src/showdisk_solaris/deviceInfo_solaris.cpp
    solaris_main=$src/showdisk_solaris/main.cpp

    # Options: those that both builds read belong in OPTIONS, all of them in
    # the ESXi section, and every one in the synopsis.
    every=$(grep -o 'strcmp(arg, "[^"]*")' "$run_src" | sed -e 's/^strcmp(arg, "//' -e 's/")$//')
    esxi_only=$(grep -o 'esxi && strcmp(arg, "[^"]*")' "$run_src" |
        sed -e 's/^esxi && strcmp(arg, "//' -e 's/")$//')
    count_at_least 4 "options" "$every"
    count_at_least 2 "ESXi options" "$esxi_only"
    for option in $every; do
        need_word "$synopsis" "$option" "SYNOPSIS"
        need_word "$esxi" "$option" "ESXI BUILD"
        if ! printf '%s\n' "$esxi_only" | grep -Fqx -e "$option"; then
            need_word "$options" "$option" "OPTIONS"
        fi
    done
    # The ESXi usage text, line by line.
    usage=$(literals "$run_src" 'Error: Invalid input!\|-- \[' | fixed_pieces | grep -v '^%')
    count_at_least 3 "usage lines" "$usage"
    for line in $usage; do
        need_text "$esxi" "$line" "ESXI BUILD"
    done

    # Table headings of the Linux and ESXi builds, and of the Solaris build.
    headings=$(grep -o '{"[^"]*", g_ui' "$table_src" | sed -e 's/^{"//' -e 's/", g_ui$//')
    count_at_least 12 "table headings" "$headings"
    for heading in $headings; do
        need_word "$table" "$heading" "TABLE"
    done
    solaris_headings=$(sed -n '/^const Column kHeadingColumns/,/^};/p' "$solaris_src" |
        grep -o '{"[^"]*"' | sed -e 's/^{"//' -e 's/"$//')
    count_at_least 7 "Solaris headings" "$solaris_headings"
    for heading in $solaris_headings; do
        need_text "$solaris" "$heading" "SOLARIS BUILD"
    done

    # Messages printed whatever the log level.
    messages=$(
        literals "$run_src" '[^_]out("' | fixed_pieces
        literals "$table_src" '[^_]out("' | fixed_pieces
        literals "$run_src" 'printf("ts_showdisk' | fixed_pieces
        grep -h 'printf("' "$solaris_src" "$solaris_main" | grep -o '"[^"]*"' |
            sed -e 's/^"//' -e 's/"$//' |
            grep -v '^%' | fixed_pieces
    )
    count_at_least 8 "messages" "$messages"
    for message in $messages; do
        need_text "$all" "$message" "the page"
    done
}

# expect_failure WHAT COMPLAINT COMMAND...: the check must fail on a
# damaged page or source, and say COMPLAINT.
expect_failure() {
    what=$1 complaint=$2
    shift 2
    if output=$("$@" 2>&1); then
        complain "the check passes although $what"
    elif ! printf '%s\n' "$output" | grep -Fq -e "$complaint"; then
        complain "the check fails when $what, but without \"$complaint\": $output"
    else
        echo "ok: the check fails when $what"
    fi
}

selftest() {
    src=$1 work=$2
    mkdir -p "$work" || exit 1
    self=$0
    tool_page=$src/docs/tsexTool.8
    disk_page=$src/docs/ts_showdisk.8

    sed 's/phypath//g' "$tool_page" >"$work/no_phypath.8"
    expect_failure "\"phypath\" is not in tsexTool(8)" '"phypath" is missing from SYNOPSIS' \
        sh "$self" words-tsexTool "$src" "$work/no_phypath.8"
    # The word stays in SYNOPSIS but leaves COMMANDS.
    sed '/^\.SH COMMANDS/,/^\.SH /s/verbose/loud/g' "$tool_page" >"$work/no_verbose.8"
    expect_failure "\"verbose\" is not among the commands" '"verbose" is missing from COMMANDS' \
        sh "$self" words-tsexTool "$src" "$work/no_verbose.8"
    sed 's/There is no phypath\./There are no phypaths./' "$tool_page" >"$work/message.8"
    expect_failure "a message of tsexTool is misquoted" '"There is no phypath." is missing' \
        sh "$self" words-tsexTool "$src" "$work/message.8"
    sed 's/redundant controller/second controller/' "$tool_page" >"$work/alarm.8"
    expect_failure "an alarm sentence is misquoted" 'redundant controller' \
        sh "$self" words-tsexTool "$src" "$work/alarm.8"
    sed 's/^\.SH EXIT STATUS/.SH STATUS/' "$tool_page" >"$work/no_exit.8"
    expect_failure "tsexTool(8) has no EXIT STATUS section" 'section EXIT STATUS is missing' \
        sh "$self" words-tsexTool "$src" "$work/no_exit.8"

    # A table and an example line wider than an 80-column terminal.
    sed 's/^lw(40) l l\.$/lw(75) l l./' "$tool_page" >"$work/wide_table.8"
    expect_failure "a table wider than 80 columns" 'table wider than line width' \
        sh "$self" groff "$work/wide_table.8"
    sed 's/^# tsexTool show version$/& and one line more than eighty columns wide, which man cannot fit/' \
        "$tool_page" >"$work/wide_line.8"
    expect_failure "an example line wider than 80 columns" 'lines wider than 80 columns' \
        sh "$self" groff "$work/wide_line.8"

    sed 's/\\-L//g' "$disk_page" >"$work/no_L.8"
    expect_failure "\"-L\" is not in ts_showdisk(8)" '"-L" is missing from SYNOPSIS' \
        sh "$self" words-ts_showdisk "$src" "$work/no_L.8"
    sed '/^\.SH OPTIONS/,/^\.SH /s/^\.B \\-l$/.B \\-x/' "$disk_page" >"$work/no_l.8"
    expect_failure "\"-l\" is not among the Linux options" '"-l" is missing from OPTIONS' \
        sh "$self" words-ts_showdisk "$src" "$work/no_l.8"
    sed 's/Serial Number/Serial/' "$disk_page" >"$work/heading.8"
    expect_failure "a Solaris heading is missing" '"Serial Number" is missing from SOLARIS BUILD' \
        sh "$self" words-ts_showdisk "$src" "$work/heading.8"
    sed 's/There is no Qelmar disk/No Qelmar disk/' "$disk_page" >"$work/nodisk.8"
    expect_failure "\"There is no Qelmar disk\" is missing" '"There is no Qelmar disk" is missing' \
        sh "$self" words-ts_showdisk "$src" "$work/nodisk.8"
    sed '/^\.SH FILES/d' "$disk_page" >"$work/no_files.8"
    expect_failure "ts_showdisk(8) has no FILES section" 'section FILES is missing' \
        sh "$self" words-ts_showdisk "$src" "$work/no_files.8"

    # A command word or an option added to the sources without a word in
    # the pages: a copy of the sources with one more of each.
    fake=$work/source
    mkdir -p "$fake/tool/rendering" "$fake/tool/checks" "$fake/showdisk" \
        "$fake/showdisk_solaris" || exit 1
    cp "$src/tool/rendering/tsprint.cpp" "$fake/tool/rendering/" || exit 1
    cp "$src/tool/checks/tsalarm.cpp" "$fake/tool/checks/" || exit 1
    cp "$src/showdisk_solaris/deviceInfo_solaris.cpp" "$src/showdisk_solaris/main.cpp" \
        "$fake/showdisk_solaris/" || exit 1
    cp "$src/showdisk/luntable.cpp" "$fake/showdisk/" || exit 1
    sed 's/^    {"check", "", tstool_Check},$/&\n    {"monitor", "", tstool_Check},/' \
        "$src/tool/tstool.cpp" >"$fake/tool/tstool.cpp"
    grep -q '"monitor"' "$fake/tool/tstool.cpp" || complain "no word added to tstool.cpp"
    expect_failure "the sources have a command word \"monitor\" that the page lacks" \
        '"monitor" is missing from SYNOPSIS' \
        sh "$self" words-tsexTool "$fake" "$tool_page"
    sed 's/^\( *\)if (strcmp(arg, "-l") == 0/\1if (strcmp(arg, "-q") == 0) {}\n&/' \
        "$src/showdisk/showdisk_run.cpp" >"$fake/showdisk/showdisk_run.cpp"
    grep -q '"-q"' "$fake/showdisk/showdisk_run.cpp" || complain "no option added to showdisk_run.cpp"
    expect_failure "the sources have an option \"-q\" that the page lacks" \
        '"-q" is missing from SYNOPSIS' \
        sh "$self" words-ts_showdisk "$fake" "$disk_page"

    if command -v groff >/dev/null 2>&1; then
        sed 's/^\.SH NOTES/.SH NOTES\n.XQ undefined/' "$tool_page" >"$work/warning.8"
        expect_failure "a page makes groff warn" 'groff warns' sh "$self" groff "$work/warning.8"
    fi
}

case "${1:-}" in
    groff) check_groff "$2" ;;
    words-tsexTool) check_tsextool "$2" "$3" ;;
    words-ts_showdisk) check_showdisk "$2" "$3" ;;
    selftest) selftest "$2" "$3" ;;
    *)
        echo "usage: $0 groff PAGE | words-tsexTool SRCROOT PAGE |" \
            "words-ts_showdisk SRCROOT PAGE | selftest SRCROOT WORKDIR" >&2
        exit 2
        ;;
esac
exit "$fail"
