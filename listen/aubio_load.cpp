// aubio is opened when the listener first needs it rather than with the program: it brings FFTW
// and the codec libraries it reads files with, about ninety libraries and 18 MiB of memory that a
// practice without listening never uses, and their loading at every start.  These are the aubio
// functions the listener calls, each looked up in the library at its first call.  Without the
// library (a broken installation) the first call says so and ends the program, as the dynamic
// linker would have at the start.
#include <aubio/aubio.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#ifndef CLEFWORK_AUBIO_LIBRARY
#error "CLEFWORK_AUBIO_LIBRARY names the aubio library to open"
#endif

namespace {

void* aubioLibrary() {
    static void* const handle = [] {
        void* opened = dlopen(CLEFWORK_AUBIO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (opened == nullptr) {
            const char* why = dlerror();
            std::fprintf(stderr, "clefwork: %s cannot be loaded: %s\n", CLEFWORK_AUBIO_LIBRARY,
                         why != nullptr ? why : "unknown error");
            std::abort();
        }
        return opened;
    }();
    return handle;
}

template <typename Fn> Fn lookUp(const char* name) {
    auto fn = reinterpret_cast<Fn>(dlsym(aubioLibrary(), name));
    if (fn == nullptr) {
        std::fprintf(stderr, "clefwork: %s has no %s\n", CLEFWORK_AUBIO_LIBRARY, name);
        std::abort();
    }
    return fn;
}

} // namespace

// Defines name with aubio's own signature, forwarding to the library's function.
#define CLEFWORK_FROM_AUBIO(result, name, params, args)                                            \
    result name params {                                                                           \
        static const auto fn = lookUp<result(*) params>(#name);                                    \
        return fn args;                                                                            \
    }

extern "C" {

CLEFWORK_FROM_AUBIO(fvec_t*, new_fvec, (uint_t length), (length))
CLEFWORK_FROM_AUBIO(void, del_fvec, (fvec_t * s), (s))
CLEFWORK_FROM_AUBIO(cvec_t*, new_cvec, (uint_t length), (length))
CLEFWORK_FROM_AUBIO(void, del_cvec, (cvec_t * s), (s))

CLEFWORK_FROM_AUBIO(aubio_fft_t*, new_aubio_fft, (uint_t size), (size))
CLEFWORK_FROM_AUBIO(void, del_aubio_fft, (aubio_fft_t * s), (s))
CLEFWORK_FROM_AUBIO(void, aubio_fft_do, (aubio_fft_t * s, const fvec_t* input, cvec_t* spectrum),
                    (s, input, spectrum))
CLEFWORK_FROM_AUBIO(void, aubio_fft_do_complex,
                    (aubio_fft_t * s, const fvec_t* input, fvec_t* compspec), (s, input, compspec))
CLEFWORK_FROM_AUBIO(void, aubio_fft_rdo_complex,
                    (aubio_fft_t * s, const fvec_t* compspec, fvec_t* output),
                    (s, compspec, output))

} // extern "C"
