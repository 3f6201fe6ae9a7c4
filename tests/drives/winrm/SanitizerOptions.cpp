// Defaults for the leak checker of sanitizer builds; the sanitizer runtime
// calls these hooks, other builds never do.

extern "C" {

// gss-ntlmssp 1.2 keeps the digests it fetches from OpenSSL 3 (EVP_MD_fetch)
// and never frees them; nothing of ours leaks there.
const char *__lsan_default_suppressions()
{
    return "leak:gssntlmssp.so\n";
}

// Full unwinding, so that a leak inside OpenSSL is traced back to the mechanism.
const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
}
