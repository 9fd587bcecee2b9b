#include "filters/decoder/core/motion_kernels.h"

#include "common/cpu_features.h"
#include "filters/decoder/core/kernel_table.h"

namespace avcdec {

MotionKernelForms SelectMotionKernelForms(uint32_t features) {
    MotionKernelForms f{KernelForm::kPortable, KernelForm::kPortable, KernelForm::kPortable, KernelForm::kPortable};
    if (features & common::kCpuMmxExt) f = {KernelForm::kMmx, KernelForm::kMmx, KernelForm::kMmx, KernelForm::kMmx};
    if (features & common::kCpuSse2) f.luma = KernelForm::kSse2;
    return f;
}

uint32_t InstallMotionKernels() {
    return DecoderKernels().featureWord;
}

}  // namespace avcdec
