// log window tests
