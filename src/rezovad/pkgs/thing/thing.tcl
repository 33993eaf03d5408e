# Script side of the Thing base class: the methods every class inherits that
# are simplest written as scripts.
proc thingInit {} {
    # Objects are made by `create`, which always runs init: a class that has
    # nothing to set up inherits this one.
    Thing method init {args} {}
    Thing method destroy {} { rename $thing {} }
    return
}
