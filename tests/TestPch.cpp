// Holds the precompiled header the test programs share; it has no tests of its own.
