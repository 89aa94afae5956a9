# Options for programs built with -DKESTRO_SANITIZE=ON; source this before running them.
# Leaks count as failures; lsan.supp lists the few libraries whose own leaks are not ours.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
