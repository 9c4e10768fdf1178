// Under AddressSanitizer, leaks inside Qt and the libraries it loads are not ours: the test
// programs and helpers read the suppressions file of the tree (discovery runs included).
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0:suppressions=" TEMBRA_LSAN_SUPPRESSIONS;
}
