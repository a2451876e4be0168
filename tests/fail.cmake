# Fails with the message given as -DMESSAGE=...: a test that stands for the
# tests that could not be built.
message(FATAL_ERROR "${MESSAGE}")
