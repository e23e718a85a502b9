# Measures a recorder from the outside, through /proc alone, so that Voxmere and the tools it
# is compared with are measured the same way. Sourced by bench/run; needs bash 5.
#
# A session: the caller starts the tool, sets PIDS (all its processes) and T_START (now_us
# right after the start), then calls hold_session. Every sample is taken with builtins only:
# a fork per poll would cost more than what is measured and blur the timings.

TICK=$(getconf CLK_TCK)
# A session's steady state begins this long after its start: process start-up and the first
# buffer are not what a recorded minute costs.
WARM_SECONDS=2
declare -A S_THREADS0 S_THREADS1
# A descriptor that never becomes readable: `read -t` on it is a sleep without a fork.
exec {NAP_FD}<> <(:)

nap() { read -r -t "$1" -u "$NAP_FD" _ || true; }

# find_window SECONDS [PID]: the id of the visible window titled Voxmere (of process PID, when
# given; under Wine the program's pid is the launcher's), polled every 10 ms for up to SECONDS.
# A search is only "not yet" when it fails: xdotool exits on X's BadWindow when a window it
# inspects goes away mid-search (Wine's short-lived start-up windows do), and one was seen to
# hang for minutes about once in twenty starts with the window up, so each is bounded.
find_window() {
    local until=$((${EPOCHREALTIME/./} + $1 * 1000000)) w
    local by_pid=()
    [[ -z ${2:-} ]] || by_pid=(--pid "$2")
    while ((${EPOCHREALTIME/./} < until)); do
        w=$(timeout 2 xdotool search --all --onlyvisible "${by_pid[@]}" --name '^Voxmere$' 2>/dev/null | head -1) || true
        if [[ -n $w ]]; then
            echo "$w"
            return 0
        fi
        nap 0.01
    done
    echo "${0##*/}: no Voxmere window within $1 s" >&2
    return 1
}

# REPLY: CPU ticks (user + system) of the processes, their exited threads included.
cpu_ticks() {
    local total=0 pid line
    local -a field
    for pid; do
        read -r line 2>/dev/null </proc/"$pid"/stat || continue
        read -ra field <<<"${line##*) }"
        total=$((total + field[11] + field[12]))
    done
    REPLY=$total
}

# REPLY: voluntary context switches (the times a thread went to sleep and was woken) of every
# live thread of the processes.
wakeups() {
    local total=0 pid status key value
    for pid; do
        for status in /proc/"$pid"/task/*/status; do
            while read -r key value _; do
                if [[ $key == voluntary_ctxt_switches: ]]; then
                    total=$((total + value))
                    break
                fi
            done 2>/dev/null <"$status" || true
        done
    done
    REPLY=$total
}

# Fills the associative array named $1 with "name cpu_ns voluntary involuntary" per thread id
# of process $2 (CPU from schedstat, in nanoseconds).
threads() {
    local -n into=$1
    local pid=$2 task name ns key value voluntary involuntary
    into=()
    for task in /proc/"$pid"/task/*; do
        read -r name 2>/dev/null <"$task/comm" || continue
        read -r ns _ 2>/dev/null <"$task/schedstat" || continue
        voluntary=0 involuntary=0
        while read -r key value _; do
            case $key in
                voluntary_ctxt_switches:) voluntary=$value ;;
                nonvoluntary_ctxt_switches:) involuntary=$value ;;
            esac
        done 2>/dev/null <"$task/status" || true
        [[ $pid == "${task##*/}" ]] && name="$name (main)"
        into[${task##*/}]="${name// /_} $ns $voluntary $involuntary"
    done
}

# REPLY: voluntary switches between two snapshots (threads) named $1 and $2, over the threads
# alive in both: a thread that ended in between must not count as negative wake-ups.
wakeups_between() {
    local -n from=$1 to=$2
    local tid total=0 v0 v1
    for tid in "${!to[@]}"; do
        [[ -n ${from[$tid]:-} ]] || continue
        read -r _ _ v0 _ <<<"${from[$tid]}"
        read -r _ _ v1 _ <<<"${to[$tid]}"
        total=$((total + v1 - v0))
    done
    REPLY=$total
}

# REPLY: "resident proportional private" memory of process $1 in KiB, from smaps_rollup
# (private: Private_Clean + Private_Dirty); "0 0 0" once it has gone.
memory() {
    local key value rss=0 pss=0 private=0
    while read -r key value _; do
        case $key in
            Rss:) rss=$value ;;
            Pss:) pss=$value ;;
            Private_Clean: | Private_Dirty:) private=$((private + value)) ;;
        esac
    done 2>/dev/null </proc/"$1"/smaps_rollup || true
    REPLY="$rss $pss $private"
}

# Raises each figure of the "rss pss private" peak named $1 to process $2's, where higher.
raise_memory_peak() {
    local -n peak=$1
    local -a now old
    memory "$2"
    read -ra now <<<"$REPLY"
    read -ra old <<<"${peak:-0 0 0}"
    peak="$((now[0] > old[0] ? now[0] : old[0])) $((now[1] > old[1] ? now[1] : old[1])) $((now[2] > old[2] ? now[2] : old[2]))"
}

# Whether one of the processes has the file open.
holds_open() {
    local file=$1 pid fd
    shift
    for pid; do
        for fd in /proc/"$pid"/fd/*; do
            [[ $fd -ef $file ]] && return 0
        done
    done
    return 1
}

# hold_session FILE SECONDS STOP_COMMAND...
# Holds the session SECONDS (more than WARM_SECONDS) from T_START, then runs STOP_COMMAND (the stop request) and waits
# until no process of PIDS has FILE open: then the file is complete (at most 30 s). Sets, in microseconds
# unless named otherwise:
#   S_FIRST     start to the first byte in FILE ("" when none came before the stop)
#   S_HELD      start to the stop request
#   S_COMPLETE  stop request to the file complete
#   S_WINDOW    the steady-state window, from WARM_SECONDS after the start to the stop request
#   S_CPU       CPU ticks and S_WAKEUPS voluntary switches of PIDS in that window
#   S_THREADS0, S_THREADS1  per-thread snapshots (threads) of PIDS[0] at the window's ends
#   S_MEMORY    the peak "rss pss private" (memory, KiB) of PIDS[0], sampled once a second
hold_session() {
    local file=$1 seconds=$2
    shift 2
    local warm_end=$((T_START + WARM_SECONDS * 1000000)) end=$((T_START + seconds * 1000000))
    local t t0="" cpu0 wake0 sampled=0
    S_FIRST=""
    S_MEMORY=""
    for (( ; ; )); do
        t=${EPOCHREALTIME/./}
        if [[ -z $S_FIRST && -s $file ]]; then
            S_FIRST=$((t - T_START))
        fi
        if ((t >= sampled + 1000000)); then
            raise_memory_peak S_MEMORY "${PIDS[0]}"
            sampled=$t
        fi
        if [[ -z $t0 ]] && ((t >= warm_end)); then
            threads S_THREADS0 "${PIDS[0]}"
            cpu_ticks "${PIDS[@]}"
            cpu0=$REPLY
            wakeups "${PIDS[@]}"
            wake0=$REPLY
            t0=${EPOCHREALTIME/./}
        fi
        ((t < end)) || break
        nap 0.01
    done
    threads S_THREADS1 "${PIDS[0]}"
    raise_memory_peak S_MEMORY "${PIDS[0]}"
    cpu_ticks "${PIDS[@]}"
    S_CPU=$((REPLY - cpu0))
    wakeups "${PIDS[@]}"
    S_WAKEUPS=$((REPLY - wake0))
    t=${EPOCHREALTIME/./}
    S_WINDOW=$((t - t0))

    "$@"
    local stop=${EPOCHREALTIME/./}
    S_HELD=$((stop - T_START))
    # Never waited for without end. A signal can be lost: a tool started in the background of
    # a script inherits SIGINT ignored until it installs its handler, and ffmpeg opens its input
    # first, so a stop sent in that window was seen never to arrive. A signalled tool is asked
    # again every 2 s; any recorder still holding its file after 30 s is killed.
    local resend=$((stop + 2000000)) give_up=$((stop + 30000000))
    while holds_open "$file" "${PIDS[@]}"; do
        t=${EPOCHREALTIME/./}
        if ((t >= give_up)); then
            echo "bench: ${PIDS[*]} still held $file 30 s after the stop; killed" >&2
            kill -KILL "${PIDS[@]}" 2>/dev/null
            break
        fi
        if [[ $1 == stop_int ]] && ((t >= resend)); then
            "$@"
            resend=$((t + 2000000))
        fi
        nap 0.001
    done
    S_COMPLETE=$((${EPOCHREALTIME/./} - stop))
}

# REPLY: seconds of audio in an MP3 file, counted by decoding it whole.
mp3_seconds() {
    local bytes
    bytes=$(mpg123 -q -s --stereo -r 44100 -e s16 "$1" 2>/dev/null | wc -c) || true
    REPLY=$(awk -v b="${bytes:-0}" 'BEGIN {printf "%.2f", b / 176400}')
}
