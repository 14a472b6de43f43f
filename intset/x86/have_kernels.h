// Whether this compilation has the x86 kernels: where the compiler targets x86 and takes per-function targets
// (GCC and clang), INTSET_X86_KERNELS is defined. Every file of intset/x86/ and the calls in dispatch.cpp go
// by this one test, and the build asks the compiler the same (intset/CMakeLists.txt), so nothing else decides
// whether the kernels exist.
#ifndef INTSET_X86_HAVE_KERNELS_H_
#define INTSET_X86_HAVE_KERNELS_H_

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define INTSET_X86_KERNELS 1
#endif

#endif  // INTSET_X86_HAVE_KERNELS_H_
