// Selection of the motion-compensation kernel forms from the CPU feature word.
#pragma once

#include <cstdint>

namespace avcdec {

enum class KernelForm : int { kPortable, kMmx, kSse2 };

// The form each of the four motion entry points takes for a feature word: MMX where the
// MMX extensions exist (bit 0x200, which SSE implies), SSE2 for luma where SSE2 exists.
struct MotionKernelForms {
    KernelForm luma, chroma8, chroma4, chroma2;
};
MotionKernelForms SelectMotionKernelForms(uint32_t features);

// Makes sure the process's kernel table (kernel_table.h), which holds the motion forms,
// is filled; returns its feature word. Safe to call from several threads at once.
uint32_t InstallMotionKernels();

}  // namespace avcdec
