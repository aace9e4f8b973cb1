#!/usr/bin/env bash
# Regenerates every picture in docs/screenshots, and only those: first the layouts painted
# by `setup-tool render` (no display needed), then the real windows on a private Xvfb
# screen, taken by the GUI tests that keep pictures when told where to. Run after a build
# (tools/setup.sh); it builds the few targets it uses if they are out of date.
#
#   tools/screenshots.sh            everything
#   tools/screenshots.sh renders    only the `setup-tool render` pictures
#
# Languages: Simplified Chinese, English, Arabic and Hindi everywhere; Thai and Japanese
# for the renders too. The message box pictures are also the references the end-to-end
# test tells the boxes apart by, so they are taken before it runs.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD_DIR:-build}
OUT=$ROOT/docs/screenshots
WHAT=${1:-all}

export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/tests/lsan.supp:print_suppressions=0}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

GUI_TESTS=(gui_dialogs_message_box_test gui_dialogs_animation_test gui_skin_window_test gui_wizard_panels_test
           gui_e2e_wizard_test)
if [ "$WHAT" = renders ]; then
  cmake --build "$BUILD" --target setup-tool
  rm -f "$OUT"/main_*.png "$OUT"/messagebox_*.png "$OUT"/overlay_*.png
else
  cmake --build "$BUILD" --target setup-tool "${GUI_TESTS[@]}"
  rm -f "$OUT"/*.png
fi

# --- the layouts, painted without a window ------------------------------------------------
render() { SETUP_SKIN_DIR=$ROOT/skin "$BUILD/setup-tool" render "$@"; }
for pair in 2:zh-cn 0:en 8:ar 15:hi 16:th 1:ja; do
  n=${pair%%:*}
  tag=${pair##*:}
  render InstallMainWnd.xml "$OUT/main_install_$tag.png" --lang "$n"
  render InstallMainWnd.xml "$OUT/main_running_$tag.png" --lang "$n" --select main_tablayout=1 \
    --value install_progress=42 --size 650x360
  # After an install the window shows the finished row on the background it switched to;
  # a failure adds its headline, advice and warning and turns the button into a retry.
  render InstallMainWnd.xml "$OUT/main_finished_$tag.png" --lang "$n" --select page_layout=1 --size 650x360 \
    --image backgroudlayout=skin/backgroud_complete.png
  render InstallMainWnd.xml "$OUT/main_failed_$tag.png" --lang "$n" --select page_layout=1 --size 650x360 \
    --image backgroudlayout=skin/backgroud_complete.png --show text_fail_retry --show text_fail_advice \
    --show img_warning --set start_app=retry_btn
  render MessageBox.xml "$OUT/messagebox_$tag.png" --lang "$n" --set msg_describe=CancelDesText \
    --set btn_yes=YesText --set btn_no=NoText
  render transWnd.xml "$OUT/overlay_$tag.png" --lang "$n"
done
[ "$WHAT" = renders ] && exit 0

# --- the real windows -----------------------------------------------------------------------
# -noreset: a Setup started right after the previous one ended must find the server up.
SHOTS=$(mktemp -d)
trap 'rm -rf "$SHOTS"' EXIT
T=$ROOT/$BUILD/tests
# A failing test still leaves its other pictures; the script names it and fails at the end.
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" env OUT="$OUT" SHOTS="$SHOTS" T="$T" bash -uo pipefail -c '
  failed=()
  run() { "$@" || failed+=("$(basename "$1")"); }
  QV_DIALOG_SCREENSHOT_DIR=$OUT run "$T/gui_dialogs_message_box_test" \
    --gtest_filter=MessageBoxWindow.EveryKindShowsItsTextsIconAndButtonsAndItsCloseButtonEffect
  QV_DIALOG_SCREENSHOT_DIR=$OUT run "$T/gui_dialogs_animation_test"
  QV_SCREENSHOT_DIR=$SHOTS run "$T/gui_skin_window_test" --gtest_filter=SkinWindow.ShippedWindowsComeUpOnScreen
  cp "$SHOTS/x11_windows.png" "$OUT/x11_windows_xvfb.png" || failed+=(x11_windows.png)
  QV_UPDATE_SCREENSHOTS=1 run "$T/gui_wizard_panels_test" --gtest_filter="WizardPanels.SettingsAndLicence*"
  QV_UPDATE_SCREENSHOTS=1 run "$T/gui_e2e_wizard_test" \
    --gtest_filter="*E2eClose.*:*E2eFailure.*:*E2eVerification.*:E2e.CloseButtonDuringTheDownloadAsksAndYesEndsTheProcess"
  if ((${#failed[@]})); then echo "screenshots: failed: ${failed[*]}" >&2; exit 1; fi
'
echo "screenshots: $(ls "$OUT"/*.png | wc -l) pictures in $OUT"
