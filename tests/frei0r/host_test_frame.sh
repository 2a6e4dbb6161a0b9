# Sourced by the frei0r host tests: a scratch folder that goes when the script ends, and fail,
# which reports a failed check and counts it for the script's exit status.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# write_profile WIDTH HEIGHT: an MLT profile of that size at 24 fps, square pixels, as ./profile.
write_profile() {
  printf '%s\n' "description=test" frame_rate_num=24 frame_rate_den=1 width="$1" height="$2" progressive=1 \
    sample_aspect_num=1 sample_aspect_den=1 display_aspect_num=16 display_aspect_den=9 colorspace=709 >profile
}
