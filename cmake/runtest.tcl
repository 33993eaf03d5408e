# Runs one tcltest file and exits non-zero when any case failed, so that
# ctest sees the failure.
package require tcltest 2
set file [lindex $argv 0]
::tcltest::configure -testdir [file dirname $file] -singleproc 1
set failed 0
proc ::tcltest::cleanupTestsHook {} {
    variable numTests
    set ::failed $numTests(Failed)
}
source $file
exit [expr {$failed > 0}]
