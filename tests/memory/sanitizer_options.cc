// The heap tests ask malloc for sizes it must refuse; under a sanitizer such
// a request would end the process instead of returning null.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }
