#!/usr/bin/env bash
# Renders a sequence on a real one-node Slurm cluster through farm/slurm/render-sequence.sbatch:
# munged, slurmctld and slurmd run on 127.0.0.1 with their configuration, keys and state in a
# temporary folder, and are stopped by pid however the test ends.
#   1. a 48-frame sequence in 4 array tasks: every frame byte-identical to a local render, and no
#      other file (a temporary one) in the output folder;
#   2. a second submission, cancelled once its first frames are there, then resubmitted with
#      --skip-existing: the sequence completes and the frames already there keep their inode and
#      time, so they were not written again.
# Usage: tests/farm/slurm_cluster_test.sh PATH/TO/vortelline; `./build.sh cluster-test` installs the
# Slurm packages, builds the program and runs this. KEEP_WORK=1 keeps the temporary folder, with the
# daemons' and the tasks' logs.
set -euo pipefail

say() { echo "slurm cluster test: $*" >&2; }
fail() {
  say "FAILED: $*"
  exit 1
}

[ $# -eq 1 ] || { echo "usage: $0 PATH/TO/vortelline" >&2; exit 2; }
program=$(realpath "$1")
repo=$(cd "$(dirname "$0")/../.." && pwd)
script="$repo/farm/slurm/render-sequence.sbatch"
[ -x "$program" ] || fail "no program at $1"
for command in munged slurmctld slurmd sbatch squeue scontrol scancel sinfo; do
  command -v "$command" >/dev/null || fail "$command is missing; ./build.sh cluster-test installs it"
done
[ "$(id -u)" -eq 0 ] || fail "the daemons run as root here (SlurmUser=root): run as root"

# 32 x 18 pixels at 64 steps: the scheduler's work is under test, not the renderer's.
frames=0-47
frame_count=48
render_options='--size 32x18 --set "Quality=Draft (64)"'
started=$(date +%s%N)
elapsed() { awk -v ns=$(($(date +%s%N) - started)) 'BEGIN { printf "%.1f s", ns / 1e9 }'; }

work=$(mktemp -d /tmp/vortelline-slurm.XXXXXX)
# munged refuses a socket in a folder only its owner may enter, as mktemp makes it.
chmod 755 "$work"
mkdir -p "$work"/{munge,state/slurmd,log,submit,local}
daemon_pids=()
submitted_jobs=()

dump_logs() {
  for log in "$work"/log/*.log "$work"/submit/*.log; do
    [ -f "$log" ] || continue
    echo "---- $log (last lines)" >&2
    tail -n 15 "$log" >&2
  done
}

# Cancels what is still queued, then stops the daemons, newest first: SIGTERM, SIGKILL after 10 s.
stop_cluster() {
  local status=$?
  trap - EXIT INT TERM ERR
  # Cleaning up goes on past any failing step.
  set +e
  if [ ${#submitted_jobs[@]} -gt 0 ] && [ ${#daemon_pids[@]} -ge 3 ]; then
    timeout 10 scancel "${submitted_jobs[@]}" 2>/dev/null || true
    # Tasks can outlive the controller: wait until the node runs none, then end what is left.
    local task_pids=""
    for _ in $(seq 50); do
      task_pids=$(timeout 5 scontrol listpids 2>/dev/null | awk 'NR > 1 { print $1 }')
      [ -z "$task_pids" ] && break
      sleep 0.2
    done
    [ -z "$task_pids" ] || kill -KILL $task_pids 2>/dev/null || true
  fi
  [ $status -eq 0 ] || dump_logs
  local index pid
  for ((index = ${#daemon_pids[@]} - 1; index >= 0; index--)); do
    pid=${daemon_pids[index]}
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
  exit $status
}
trap stop_cluster EXIT
trap 'exit 130' INT TERM
trap 'say "FAILED: line $LINENO: $BASH_COMMAND"' ERR

# A port nobody listens on, other than Slurm's usual 6817 and 6818.
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 20000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}

host=$(hostname -s)
controller_port=$(free_port)
node_port=$(free_port)
while [ "$node_port" = "$controller_port" ]; do node_port=$(free_port); done
export SLURM_CONF="$work/slurm.conf"
# The node as slurmd sees the hardware, so that it is not drained for a configuration mismatch.
node_line=$(slurmd -C | head -n 1)
cat >"$SLURM_CONF" <<EOF
ClusterName=vortelline-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$controller_port
SlurmdPort=$node_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/munge.socket
CredType=cred/munge
StateSaveLocation=$work/state/controller
SlurmdSpoolDir=$work/state/slurmd
SlurmctldPidFile=$work/state/slurmctld.pid
SlurmdPidFile=$work/state/slurmd.pid
# No cgroups on these machines.
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
# Array tasks start as soon as they are submitted, not at the next scheduling pass.
SchedulerParameters=batch_sched_delay=0
MpiDefault=none
ReturnToService=2
KillWait=5
MailProg=/bin/true
$node_line NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=render Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF

dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge/munge.key"
# Each daemon in the foreground, in the background: $! is the daemon itself. In the foreground the
# daemons log to stderr.
munged --foreground --force --socket="$work/munge/munge.socket" --key-file="$work/munge/munge.key" \
  --pid-file="$work/munge/munged.pid" --seed-file="$work/munge/seed" --origin=127.0.0.1 \
  2>"$work/log/munged.log" &
daemon_pids+=($!)
for _ in $(seq 100); do
  [ -S "$work/munge/munge.socket" ] && break
  sleep 0.05
done
[ -S "$work/munge/munge.socket" ] || fail "munged did not start"
slurmctld -D -f "$SLURM_CONF" >"$work/log/slurmctld.log" 2>&1 &
daemon_pids+=($!)
slurmd -D -f "$SLURM_CONF" -N "$host" >"$work/log/slurmd.log" 2>&1 &
daemon_pids+=($!)
for _ in $(seq 150); do
  state=$(timeout 5 sinfo -h -n "$host" -o %T 2>/dev/null || true)
  [ "$state" = idle ] && break
  sleep 0.2
done
[ "$state" = idle ] || fail "the node did not come up (state \"$state\")"
say "cluster up after $(elapsed)"

# The job script as a user edits it: program, frames, output and options.
edited_script() {
  local output=$1 copy=$2
  sed -e "s|^VORTELLINE=.*|VORTELLINE=$program|" -e "s|^FRAMES=.*|FRAMES=$frames|" \
    -e "s|^OUTPUT=.*|OUTPUT=$output|" -e "s|^RENDER_OPTIONS=.*|RENDER_OPTIONS=($render_options)|" \
    "$script" >"$copy"
  for setting in "VORTELLINE=$program" "FRAMES=$frames" "OUTPUT=$output" "RENDER_OPTIONS=($render_options)"; do
    grep -qxF "$setting" "$copy" || fail "the job script has no line to edit for ${setting%%=*}"
  done
}

# Sets job to the new job's id.
submit() {
  job=$(cd "$work/submit" && timeout 20 sbatch --parsable "$@") || fail "sbatch $* was refused"
  submitted_jobs+=("$job")
}

# Waits until no task of the job is pending, running or completing.
wait_for_job() {
  local job=$1 remaining
  for _ in $(seq 600); do
    remaining=$(timeout 10 squeue -h -j "$job" -o %i 2>/dev/null) || fail "squeue failed for job $job"
    [ -z "$remaining" ] && return
    sleep 0.2
  done
  fail "job $job did not finish within 2 minutes: $(timeout 10 squeue -h -j "$job" -o '%i %T %r')"
}

# "TASK STATE EXITCODE" for each array task, from the controller (sacct needs a database).
task_states() {
  timeout 10 scontrol -o show job "$1" |
    sed -E 's/.*ArrayTaskId=([0-9]+).* JobState=([A-Z_]+).* ExitCode=([0-9:]+).*/\1 \2 \3/' | sort -n
}

expected_names() {
  for ((frame = 0; frame < frame_count; frame++)); do printf "flames_%04d.png\n" "$frame"; done
}

# Every frame as the local render has it, and nothing else in the folder.
check_sequence() {
  local folder=$1
  [ "$(ls -A "$folder")" = "$(expected_names)" ] ||
    fail "$folder holds other files than the $frame_count frames: $(ls -A "$folder" | tr '\n' ' ')"
  for name in $(expected_names); do
    cmp -s "$work/local/$name" "$folder/$name" || fail "$folder/$name differs from the local render"
  done
}

eval "local_options=($render_options)"
"$program" render --quiet --frames "$frames" "${local_options[@]}" -o "$work/local/flames_####.png"
say "local render done after $(elapsed)"

edited_script "$work/shared/run/flames_####.png" "$work/submit/run.sbatch"
submit --array=0-3 --cpus-per-task=1 run.sbatch
wait_for_job "$job"
states=$(task_states "$job")
[ "$states" = "$(printf '%s COMPLETED 0:0\n' 0 1 2 3)" ] || fail "job $job ended with tasks: $states"
check_sequence "$work/shared/run"
grep -q "vortelline: task 3/4: frames 36-47" "$work/submit/vortelline-${job}_3.log" ||
  fail "the log of task 3 does not name its frames: $(cat "$work/submit/vortelline-${job}_3.log")"
grep -q "task 3 ended with exit status 0" "$work/submit/vortelline-${job}_3.log" ||
  fail "the log of task 3 does not end with the exit status: $(cat "$work/submit/vortelline-${job}_3.log")"
say "4-task array rendered the sequence after $(elapsed)"

# One task at a time, so that cancelling once the first frame is there stops it midway.
edited_script "$work/shared/resumed/flames_####.png" "$work/submit/resumed.sbatch"
submit --array=0-3%1 --cpus-per-task=1 resumed.sbatch
for _ in $(seq 600); do
  compgen -G "$work/shared/resumed/flames_*.png" >/dev/null && break
  sleep 0.05
done
compgen -G "$work/shared/resumed/flames_*.png" >/dev/null || fail "job $job wrote no frame within 30 s"
timeout 10 scancel "$job" || fail "scancel $job failed"
wait_for_job "$job"
present=$(cd "$work/shared/resumed" && ls flames_*.png)
present_count=$(echo "$present" | wc -l)
[ "$present_count" -lt "$frame_count" ] || fail "the array finished before it could be cancelled"
task_states "$job" | grep -q CANCELLED || fail "no task of job $job was cancelled: $(task_states "$job")"
identities=$(cd "$work/shared/resumed" && stat -c '%n %i %.9Y' $present)
say "cancelled job $job with $present_count frames there after $(elapsed)"

submit --array=0-3 --cpus-per-task=1 resumed.sbatch --skip-existing
wait_for_job "$job"
states=$(task_states "$job")
[ "$states" = "$(printf '%s COMPLETED 0:0\n' 0 1 2 3)" ] || fail "resubmitted job $job ended with tasks: $states"
check_sequence "$work/shared/resumed"
[ "$(cd "$work/shared/resumed" && stat -c '%n %i %.9Y' $present)" = "$identities" ] ||
  fail "frames that were there before the resubmission were written again"
skipped=$(awk '/^vortelline: skipping [0-9]+ of/ { sum += $3 } END { print sum + 0 }' \
  "$work/submit/vortelline-${job}"_*.log)
[ "$skipped" = "$present_count" ] || fail "the tasks say they skipped ${skipped:-no} frames, not $present_count"
say "resubmission with --skip-existing completed the sequence, skipping $skipped frames, after $(elapsed)"
say "passed in $(elapsed)"
