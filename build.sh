#!/usr/bin/env bash
# Set-up, build, tests and the default render, in one place.
#   ./build.sh test       install what is missing, build, run every test
#   ./build.sh render     install what is missing, build, render the default flames into out/
#   ./build.sh sanitize   build and run the tests again under AddressSanitizer + UBSan
#   ./build.sh cluster-test  render a sequence on a one-node Slurm cluster started for the test
#   ./build.sh looks      render the presets' contact sheet and the control sweeps into docs/
#   ./build.sh package    build the Debian package vortelline_<version>_<arch>.deb
#   ./build.sh package-test  build it, run lintian, install, use and purge it in a fresh Debian root
#   ./build.sh fuzz       build the fuzz targets with clang, libFuzzer, ASan + UBSan and run each
#                         briefly from its seeds (FUZZ_RUNS=N: N runs each instead)
#   ./build.sh deps       only install what is missing
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libpng-dev libopenexr-dev libimath-dev libcli11-dev nlohmann-json3-dev
          # GPU renderer: Vulkan loader and headers, the HLSL-to-SPIR-V compiler, Mesa's lavapipe
          libvulkan-dev libvulkan-volk-dev mesa-vulkan-drivers glslc spirv-tools vulkan-validationlayers
          # SIMD CPU renderer with run-time dispatch
          libhwy-dev
          # About dialog, banner drawing and the studio; the offscreen platform lets CI drive widgets
          qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
          # Movie files: FFmpeg's muxers, encoders (ProRes, FFV1, VP9, H.264) and colour conversion
          libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
          # The frei0r plug-ins: their header, and the hosts their tests run them in (GStreamer's libav
          # decoders for an ordinary H.264 MP4)
          frei0r-plugins-dev ffmpeg melt gstreamer1.0-plugins-bad gstreamer1.0-plugins-good gstreamer1.0-tools
          gstreamer1.0-libav
          # The check of the editors' descriptions of the plug-ins
          libxml2-utils
          # The OpenFX test host, built from the standard's host library (../shared/openfx), reads its
          # plug-in cache as XML
          libexpat1-dev)
# Only for the cluster test: the scheduler's controller, node daemon, commands and authentication.
CLUSTER_PACKAGES=(slurmctld slurmd slurm-client munge)
# Only for the fuzz targets: clang 14 with its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# Each fuzz target with the runs of its short check: about a minute each on one core.
declare -A FUZZ_CHECK_RUNS=([settings_file_fuzzer]=20000 [render_options_fuzzer]=20000
                            [image_file_fuzzer]=3000 [effect_main_fuzzer]=2000)
# Only for the pictures of looks: montage tiles and labels them, over Debian's photographs.
LOOKS_PACKAGES=(imagemagick mate-backgrounds)
# Only for the package: CPack's dependency and stripping tools, lintian, and a fresh root to install into.
PACKAGE_PACKAGES=(dpkg-dev file lintian mmdebstrap)
JOBS=$(nproc)

install_missing() {
  local missing=()
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

configure() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DVORTELLINE_TESTS=ON -DVORTELLINE_APP=ON \
    -DVORTELLINE_BENCHMARKS=ON "$@" >/dev/null
}

build_package() {
  PACKAGES+=("${PACKAGE_PACKAGES[@]}")
  install_missing
  configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build -j "$JOBS"
  rm -f build/package/vortelline_*.deb
  (cd build && cpack)
  package=$(ls build/package/vortelline_*.deb)
  mv "$package" .
  package=$(basename "$package")
  echo "Built $package"
}

case "${1:-}" in
  deps)
    install_missing
    ;;
  test)
    install_missing
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j "$JOBS"
    ctest --test-dir build --output-on-failure -j "$JOBS"
    # CMake's default generator (Unix Makefiles) makes no folders for custom commands' outputs: the
    # targets with custom commands (the editors' descriptions, manual pages, banner, GPU kernels)
    # build with it too.
    cmake -S . -B build-makefiles -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build-makefiles -j "$JOBS" --target vortelline_frei0r_host_files vortelline_package_files \
      vortelline_ui vortelline_gpu
    ;;
  sanitize)
    install_missing
    flags="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer"
    configure build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVORTELLINE_BENCHMARKS=OFF \
      "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=$flags" "-DCMAKE_MODULE_LINKER_FLAGS=$flags"
    cmake --build build-sanitize -j "$JOBS"
    # Mesa's lavapipe leaks a little per Vulkan instance, and the Vulkan loader unloads it before
    # LeakSanitizer reports, which leaves the leak without a name. Preloading keeps it mapped so
    # that the suppression file can name it.
    lavapipe=$(dpkg -L mesa-vulkan-drivers | grep '/libvulkan_lvp.so$' | head -1)
    # The plug-ins' runs in FFmpeg, melt and GStreamer (frames, failure notices, the generators'
    # controls, and melt's listing of their parameters for the editors' descriptions) are left to
    # the plain build: an instrumented plug-in names the sanitizers' runtimes, and melt neither
    # renders nor lists it with them loaded late. Under the sanitizers the plug-ins are driven
    # through their entry points (Frei0rPlugin).
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan_suppressions.txt" ASAN_OPTIONS=verify_asan_link_order=0 \
      LD_PRELOAD="$lavapipe" ctest --test-dir build-sanitize --output-on-failure -j "$JOBS" \
      -E '^frei0r_(hosts|host_files|failure_notice|generator_controls)$'
    ;;
  cluster-test)
    PACKAGES+=("${CLUSTER_PACKAGES[@]}")
    install_missing
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j "$JOBS" --target vortelline vortelline_effect
    tests/farm/slurm_cluster_test.sh build/cli/vortelline
    ;;
  looks)
    PACKAGES+=("${LOOKS_PACKAGES[@]}")
    install_missing
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j "$JOBS" --target vortelline vortelline_effect
    docs/make_looks.sh build/cli/vortelline
    ;;
  package)
    build_package
    ;;
  package-test)
    build_package
    tests/packaging/package_test.sh "$package" build/cli/vortelline
    ;;
  fuzz)
    PACKAGES+=("${FUZZ_PACKAGES[@]}")
    install_missing
    flags="-fsanitize=fuzzer-no-link,address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer"
    configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTELLINE_TESTS=OFF -DVORTELLINE_BENCHMARKS=OFF \
      -DVORTELLINE_FUZZ=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
      "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=$flags" "-DCMAKE_MODULE_LINKER_FLAGS=$flags"
    cmake --build build-fuzz -j "$JOBS" --target vortelline_fuzzers
    # From the seeds kept in fuzz/seeds; what the runs find new collects in build-fuzz/corpus, and
    # an input that fails is kept in build-fuzz/failures and fails this command.
    mkdir -p build-fuzz/failures
    for fuzzer in "${!FUZZ_CHECK_RUNS[@]}"; do
      mkdir -p "build-fuzz/corpus/$fuzzer"
      "build-fuzz/fuzz/$fuzzer" -runs="${FUZZ_RUNS:-${FUZZ_CHECK_RUNS[$fuzzer]}}" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/failures/$fuzzer-" "build-fuzz/corpus/$fuzzer" "fuzz/seeds/$fuzzer"
    done
    ;;
  render)
    install_missing
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j "$JOBS" --target vortelline vortelline_effect
    mkdir -p out
    ./build/cli/vortelline render --frames 0-11 --size 1920x1080 --set "Quality=Draft (64)" -o "out/flames_####.png"
    ;;
  *)
    echo "usage: $0 test|render|sanitize|cluster-test|looks|package|package-test|fuzz|deps" >&2
    exit 2
    ;;
esac
