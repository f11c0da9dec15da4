// Regions of code built for one instruction set, whatever the flags of the
// file, by GCC and Clang alike: every function defined between
// KIVO_TARGET_AVX2_BEGIN (or KIVO_TARGET_AVX512_BEGIN) and KIVO_TARGET_END
// carries that target, and runs only where simd::best() allows it.
//
// Functions declared before a region (the standard library's, the inline
// helpers of other headers) keep the baseline target; a region may call and
// inline them. So a file includes every header it needs before it opens a
// region, and names what it defines inside one in a namespace of that
// instruction set: an inline function first defined inside a region would
// otherwise be an AVX copy that the linker may hand to baseline callers.
// Building whole files with -mavx2 has that flaw everywhere, which is why
// this library does not.
//
// The sets hold what simd.cpp checks, and no FMA of their own: the library
// is built with -ffp-contract=off anyway, so no path changes a score's bits.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#define KIVO_SIMD_X86 1

// _Pragma takes one string literal, which must stay unsplit.
// clang-format off
#if defined(__clang__)
#define KIVO_TARGET_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2,bmi,bmi2,popcnt\"))), apply_to = function)")
#define KIVO_TARGET_AVX512_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2,bmi,bmi2,popcnt,avx512f,avx512dq,avx512bw,avx512vl\"))), apply_to = function)")
#define KIVO_TARGET_END _Pragma("clang attribute pop")
#else
#define KIVO_TARGET_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,bmi,bmi2,popcnt\")")
#define KIVO_TARGET_AVX512_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,bmi,bmi2,popcnt,avx512f,avx512dq,avx512bw,avx512vl\")")
#define KIVO_TARGET_END _Pragma("GCC pop_options")
#endif
// clang-format on

#endif
