#!/bin/bash
# renders every window of the shipped skin in six languages
set -e
cd "$(dirname "$0")/../.."
export SETUP_SKIN_DIR=$PWD/skin LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
T=build/setup-tool
O=${1:-docs/screenshots}
for pair in 2:zh-cn 0:en 8:ar 15:hi 16:th 1:ja; do
  n=${pair%%:*}; tag=${pair##*:}
  $T render InstallMainWnd.xml $O/main_install_$tag.png --lang $n
  $T render InstallMainWnd.xml $O/main_running_$tag.png --lang $n --select main_tablayout=1 --value install_progress=42 --size 650x360
  $T render InstallMainWnd.xml $O/main_finished_$tag.png --lang $n --select page_layout=1 --size 650x360
  $T render MessageBox.xml $O/messagebox_$tag.png --lang $n --set msg_describe=CancelDesText --set btn_yes=YesText --set btn_no=NoText
  $T render transWnd.xml $O/overlay_$tag.png --lang $n
done
