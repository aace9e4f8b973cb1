# Read by ctest after the tests each program listed (tests/CMakeLists.txt). A name that
# matches no test is ignored without a word: keep the names in step with the tests.

# It starts the product it installed, and every other install's pre-install check looks for
# the product's process on the whole machine: an install running beside it would stop at
# "is running, please close it first".
set_tests_properties("gui.WizardInstall.ChosenFolderInstallFinishedPageAndDirectStart" PROPERTIES RUN_SERIAL TRUE)
