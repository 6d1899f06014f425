"""Shared tools of the Python tests: locating and running the zpress
executable, private test directories, test data, gzip and .Z streams made
independently of the code under test, and slow feeding of standard input."""
