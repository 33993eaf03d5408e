# Runs one tcltest file and exits non-zero when any case failed, so that
# ctest sees the failure. The runner keeps its state in its own namespace:
# test files freely set globals such as "file" or "tmp".
package require tcltest 2
namespace eval ::tovikrun {
    variable file [lindex $::argv 0]
    # Test files run in parallel: each gets a temporary folder of its own.
    variable tmp [file join [expr {[info exists ::env(TOVIK_BUILD)] ? $::env(TOVIK_BUILD) : [pwd]}] \
        testtmp [file rootname [file tail $file]]-[pid]]
    variable failed 0
    file mkdir $tmp
    ::tcltest::configure -testdir [file dirname $file] -tmpdir $tmp -singleproc 1
}
proc ::tcltest::cleanupTestsHook {} {
    variable numTests
    set ::tovikrun::failed $numTests(Failed)
}
# With Tk loaded, cleanupTests ends the process itself with a bare exit:
# that exit must still report the failures.
rename ::exit ::tovikrun::exit
proc ::exit {{code 0}} {
    if {$code == 0 && $::tovikrun::failed > 0} { set code 1 }
    ::tovikrun::exit $code
}
source $::tovikrun::file
catch {file delete -force $::tovikrun::tmp}
exit [expr {$::tovikrun::failed > 0}]
