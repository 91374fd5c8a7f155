#!/bin/bash
# Sources a completion file in a bare non-interactive bash, sets COMP_WORDS,
# COMP_CWORD, COMP_LINE and COMP_POINT as bash sets them for a command line
# typed up to its end, calls the function that the file registered and
# compares COMPREPLY, sorted, with the expected words.
#
#   test_completion.sh COMPLETION_DIR words [DIR]
#       tsexTool, no device names; DIR: an empty directory to work in
#   test_completion.sh COMPLETION_DIR showdisk  ts_showdisk
#   test_completion.sh COMPLETION_DIR capture DIR  tskit-capture (DIR: empty)
#   test_completion.sh COMPLETION_DIR devices|localdisk|components|components_iscsi|hostile SANSIM TOPOLOGY
#       tsexTool device names on a simulated host (root only: exit 77
#       otherwise): "devices" on the demo host, "localdisk" on a host with
#       one local disk and no multipath device; "components" and
#       "components_iscsi" the components of check failover on the FC and
#       iSCSI degraded hosts; "hostile" on a host whose sysfs names are
#       shell text. The script runs itself again inside the host.
#
# Inside the simulated host PATH holds no coreutils: only builtins are used.
# Exit 0 when every case holds, 1 otherwise.

export LC_ALL=C

COMPLETION_DIR=$1
GROUP=$2

if [[ $GROUP == devices || $GROUP == localdisk || $GROUP == components* || $GROUP == hostile ]] &&
    (($# >= 4)); then
    if ((EUID != 0)); then
        echo "SKIP: simulated hosts need root here (a private mount namespace per run)"
        exit 77
    fi
    exec "$3" run "$4" -- /bin/bash --norc --noprofile "$0" "$COMPLETION_DIR" "$GROUP"
fi

failures=0
cases=0
# Set by the last line of a group: an error that aborts the group (such as
# the failglob error of an unmatched pattern) leaves it unset.
completed=0

# Sorts the arguments into the array "sorted" (insertion sort: no sort(1)).
sort_words() {
    sorted=()
    local word i
    for word in "$@"; do
        i=${#sorted[@]}
        while ((i > 0)) && [[ ${sorted[i-1]} > $word ]]; do
            sorted[i]=${sorted[i-1]}
            ((i--))
        done
        sorted[i]=$word
    done
}

# expect LINE [WORD...]: completes LINE (the cursor at its end) and checks
# that the completions are exactly the WORDs.
expect() {
    local line=$1
    shift
    local -a typed
    read -r -a typed <<<"$line"
    [[ $line == *' ' ]] && typed+=("")
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMP_WORDS=("${typed[@]}")
    COMP_CWORD=$((${#typed[@]} - 1))
    COMPREPLY=()

    local registration function=""
    registration=$(complete -p "${typed[0]##*/}" 2>/dev/null)
    [[ $registration =~ -F\ ([^ ]+) ]] && function=${BASH_REMATCH[1]}
    ((cases++))
    if [[ -z $function ]]; then
        echo "FAIL: no completion function registered for ${typed[0]##*/}"
        ((failures++))
        return
    fi
    "$function" "${typed[0]}" "${typed[COMP_CWORD]}" "${typed[COMP_CWORD-1]}"

    sort_words "${COMPREPLY[@]}"
    local got="${sorted[*]}"
    sort_words "$@"
    local want="${sorted[*]}"
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$line'"
        echo "  expected: [$want]"
        echo "  got:      [$got]"
        ((failures++))
    fi
}

case $GROUP in
words)
    source "$COMPLETION_DIR/tsexTool" || exit 1

    # The first word.
    expect 'tsexTool ' help '?' show check
    expect 'tsexTool sh' show
    expect 'tsexTool s' show
    expect 'tsexTool ch' check
    expect 'tsexTool x'
    # The leading options: offered at a "-", the command words after --json.
    expect 'tsexTool -' --jobs --timeout --json --nagios --prometheus --textfile --help --version
    expect 'tsexTool --jobs '
    expect 'tsexTool --jobs 8 ' help '?' show check
    expect 'tsexTool --jobs 8 -' --timeout --json --nagios --prometheus --textfile --help --version
    expect 'tsexTool --timeout '
    expect 'tsexTool --timeout 5 -' --jobs --json --nagios --prometheus --textfile --help --version
    expect 'tsexTool --timeout 5 show ' version vlun path device phypath
    expect 'tsexTool --nagios -' -t -V
    expect 'tsexTool --nagios -t '
    expect 'tsexTool --nagios -t 5 -' -V
    expect 'tsexTool --nagios -t 5 check ' status
    expect 'tsexTool --jobs 8 --nagios check ' status
    expect 'tsexTool --j' --jobs --json
    expect 'tsexTool --json ' help '?' show check
    expect 'tsexTool --json -'
    expect 'tsexTool --json show ' version vlun path device phypath
    expect 'tsexTool --json show vlun ve' verbose
    expect 'tsexTool --help '
    expect 'tsexTool --vers' --version
    expect 'tsexTool --version '
    expect 'tsexTool --nagios -V '
    expect 'tsexTool --nagios -t 5 -V -'
    # The monitoring forms: check status alone, --textfile and --prometheus
    # in either order, a file name after --textfile.
    expect 'tsexTool --nagios ' check
    expect 'tsexTool --nagios check ' status
    expect 'tsexTool --nagios check status '
    expect 'tsexTool --prometheus -' --textfile
    expect 'tsexTool --prometheus --textfile /nonexistent-dir/'
    expect 'tsexTool --textfile out.prom -' --prometheus
    expect 'tsexTool --prometheus --textfile out.prom check ' status
    expect 'tsexTool --prometheus check status '
    expect '/usr/sbin/tsexTool ' help '?' show check
    # "?" stays a word in a directory where it would match a file as a glob.
    if [[ -n $3 ]]; then
        cd "$3" && : >q || exit 1
        expect 'tsexTool ?' '?'
        expect 'tsexTool ' help '?' show check
        cd - >/dev/null || exit 1
    fi

    # The second word.
    expect 'tsexTool show ' version vlun path device phypath
    expect 'tsexTool show v' version vlun
    expect 'tsexTool show p' path phypath
    expect 'tsexTool check ' status redundancy failover
    expect 'tsexTool check redundancy ' verbose
    expect 'tsexTool check failover host3 ' verbose
    expect 'tsexTool check failover host3 verbose '
    expect 'tsexTool help '
    expect 'tsexTool HELP '

    # The third word where it needs no device name.
    expect 'tsexTool show version '
    expect 'tsexTool show phypath ' verbose
    expect 'tsexTool show vlun ve' verbose
    expect 'tsexTool show disk '
    expect 'tsexTool check status ' verbose
    expect 'tsexTool check status verb' verbose
    expect 'tsexTool check state '

    # "verbose" only as the last word, after a name or none.
    expect 'tsexTool show vlun dm-0 ' verbose
    expect 'tsexTool show path /dev/sdc ' verbose
    expect 'tsexTool show device sdb v' verbose
    expect 'tsexTool show vlun verbose '
    expect 'tsexTool show path verbose '
    expect 'tsexTool show device verbose '
    expect 'tsexTool show phypath verbose '
    expect 'tsexTool check status verbose '
    expect 'tsexTool show vlun dm-0 verbose '
    expect 'tsexTool show version vlun '
    completed=1
    ;;
showdisk)
    source "$COMPLETION_DIR/ts_showdisk" || exit 1
    expect 'ts_showdisk ' -v -l
    expect 'ts_showdisk -' -v -l
    expect 'ts_showdisk -v' -v
    expect 'ts_showdisk -l' -l
    # The ESXi options are not the Linux program's.
    expect 'ts_showdisk --'
    expect 'ts_showdisk -L'
    # Only the first word is read.
    expect 'ts_showdisk -l '
    expect 'ts_showdisk -v -'
    # The leading long options, once a letter of them is typed; after
    # --json the first word of old.
    expect 'ts_showdisk --j' --jobs --json
    expect 'ts_showdisk --t' --timeout
    expect 'ts_showdisk --timeout '
    expect 'ts_showdisk --timeout 5 ' -v -l
    expect 'ts_showdisk --timeout 5 --j' --jobs --json
    expect 'ts_showdisk --jobs '
    expect 'ts_showdisk --jobs 8 ' -v -l
    expect 'ts_showdisk --jobs 8 --j' --json
    expect 'ts_showdisk --json --jobs'
    expect 'ts_showdisk --h' --help
    expect 'ts_showdisk --x'
    expect 'ts_showdisk --json ' -v -l
    expect 'ts_showdisk --json -' -v -l
    expect 'ts_showdisk --json --h' --help
    expect 'ts_showdisk --json --j'
    expect 'ts_showdisk --help '
    expect 'ts_showdisk --json -l '
    expect 'ts_showdisk -l --j'
    completed=1
    ;;
devices)
    source "$COMPLETION_DIR/tsexTool" || exit 1

    # The demo host: its multipath devices and the sd names of its paths and
    # of its local disk sda (loop0 is neither).
    dms=(dm-0 dm-1 dm-2 dm-3 dm-4)
    sds=(sda sdb sdc sdd sde sdf sdg sdh sdi sdj sdk sdl sdm sdn sdo sdp sdq
         sdr sds sdt sdu)

    expect 'tsexTool show vlun ' "${dms[@]}" verbose
    expect 'tsexTool show path ' "${sds[@]}" "${dms[@]}" verbose
    expect 'tsexTool show device ' "${sds[@]}" "${dms[@]}" verbose
    expect 'tsexTool show vlun dm-3' dm-3
    expect 'tsexTool show vlun s'
    expect 'tsexTool show path sd' "${sds[@]}"
    expect 'tsexTool show device dm-' "${dms[@]}"
    expect 'tsexTool show device l'
    expect 'tsexTool show vlun /dev/' /dev/dm-0 /dev/dm-1 /dev/dm-2 /dev/dm-3 /dev/dm-4
    expect 'tsexTool show path /dev/sdb' /dev/sdb
    expect 'tsexTool show path /dev/dm-1' /dev/dm-1
    expect 'tsexTool show device /dev/' "${sds[@]/#//dev/}" "${dms[@]/#//dev/}"

    # Device names only where a name may stand.
    expect 'tsexTool show phypath ' verbose
    expect 'tsexTool show version '

    # Partitions and other nodes whose names only begin alike are not
    # devices of the tool. A name is never expanded as shell text.
    cd /dev || exit 1
    if : >/dev/sdb1 && : >/dev/dm-2x && : >/dev/sdc2 && : >'/dev/sdz$(echo>ran)' &&
        : >'/dev/dm-9`echo>ran`'; then
        expect 'tsexTool show path sdb' sdb
        expect 'tsexTool show device sdc' sdc
        expect 'tsexTool show vlun dm-2' dm-2
        expect 'tsexTool show path sdz'
        expect 'tsexTool show vlun dm-9'
        expect 'tsexTool show path ' "${sds[@]}" "${dms[@]}" verbose
        ((cases++))
        if [[ -e /dev/ran ]]; then
            echo "FAIL: a device name was run as a command"
            ((failures++))
        fi
    else
        echo "FAIL: cannot add nodes to the simulated /dev"
        ((failures++))
    fi
    cd - >/dev/null || exit 1
    completed=1
    ;;
components)
    # The components check failover takes, from the transport classes.
    source "$COMPLETION_DIR/tsexTool" || exit 1
    expect 'tsexTool check failover ' host3 host4 21000024ff4a5b01 21000024ff4a5b02 \
        10000005ff4a5b01 10000005ff4a5b02 2100e0fc12345601 2110e0fc12345601 \
        2200f4e9d4567801 2210f4e9d4567801 2101e0fc12345601 2111e0fc12345601 \
        2201f4e9d4567801 2211f4e9d4567801
    expect 'tsexTool check failover host' host3 host4
    expect 'tsexTool --json check failover 22' 2200f4e9d4567801 2210f4e9d4567801 \
        2201f4e9d4567801 2211f4e9d4567801
    completed=1
    ;;
components_iscsi)
    # Software iSCSI: one initiator name for every session's host, offered
    # once; each host's address is its fabric.
    source "$COMPLETION_DIR/tsexTool" || exit 1
    expect 'tsexTool check failover ' host5 host6 host7 host8 \
        iqn.1993-08.org.debian:01:5e2f8a9c0d41 10.0.5.1 10.0.6.1 10.0.7.1 10.0.8.1
    completed=1
    ;;
hostile)
    # Port, fabric and target port names that are shell text (a command
    # substitution, backquotes, a glob with ";", a blank, ESC and 0xE9):
    # none is run (each would write /dev/ran), split or offered; the plain
    # names beside them still are.
    source "$COMPLETION_DIR/tsexTool" || exit 1
    cd /dev || exit 1
    plain=(host3 host4 21000024ff4a5b02 10000005ff4a5b01 10000005ff4a5b02 2101e0fc12345601
        2111e0fc12345601 2201f4e9d4567801 2211f4e9d4567801)
    expect 'tsexTool check failover ' "${plain[@]}"
    expect 'tsexTool --json check failover 22' 2201f4e9d4567801 2211f4e9d4567801
    # The word typed is a plain prefix too, never a pattern or shell text.
    expect 'tsexTool check failover *'
    expect 'tsexTool check failover $(echo>/dev/ran)'
    expect 'tsexTool check failover 2?'
    ((cases++))
    if [[ -e /dev/ran ]]; then
        echo "FAIL: a name read from sysfs was run as a command"
        ((failures++))
    fi
    cd - >/dev/null || exit 1
    completed=1
    ;;
localdisk)
    source "$COMPLETION_DIR/tsexTool" || exit 1

    # No dm node: an unmatched pattern is no name, whatever the user's glob
    # settings.
    expect 'tsexTool show vlun ' verbose
    expect 'tsexTool show path ' sda verbose
    expect 'tsexTool show device /' /dev/sda
    shopt -s failglob
    expect 'tsexTool show vlun ' verbose
    expect 'tsexTool show path ' sda verbose
    shopt -u failglob
    shopt -s nullglob
    expect 'tsexTool show vlun ' verbose
    shopt -u nullglob
    completed=1
    ;;
capture)
    # File names from a directory of its own; options only as the first word.
    source "$COMPLETION_DIR/tskit-capture" || exit 1
    cd "$3" && : >host1.json && : >host2.json && mkdir -p saved || exit 1
    expect 'tskit-capture ' host1.json host2.json saved
    expect 'tskit-capture h' host1.json host2.json
    expect 'tskit-capture -' --map --anonymize --help -
    expect 'tskit-capture --m' --map
    expect 'tskit-capture --map ' host1.json host2.json saved
    expect 'tskit-capture --map h' host1.json host2.json
    expect 'tskit-capture --map m.map ' --anonymize
    expect 'tskit-capture --map m.map --anonymize -' -
    expect 'tskit-capture --map m.map --anonymize h' host1.json host2.json
    expect 'tskit-capture --map m.map --anonymize - '
    expect 'tskit-capture --a' --anonymize
    expect 'tskit-capture --anonymize ' host1.json host2.json saved
    expect 'tskit-capture --anonymize -' -
    expect 'tskit-capture --anonymize host1.json '
    expect 'tskit-capture host1.json '
    expect 'tskit-capture --help '
    expect 'tskit-capture x'
    cd - >/dev/null || exit 1
    completed=1
    ;;
*)
    echo "usage: $0 COMPLETION_DIR words|showdisk|capture|devices|localdisk|components|hostile [DIR|SANSIM TOPOLOGY]"
    exit 1
    ;;
esac

if ((!completed)); then
    echo "FAIL: the $GROUP cases stopped after $cases cases"
    exit 1
fi
echo "$GROUP: $cases cases, $failures failed"
((failures == 0))
