#include "filters/decoder/core/motion_kernels.h"

#include <mutex>

#include "common/cpu_features.h"

namespace avcdec {

namespace {

std::once_flag installOnce;
uint32_t installedFeatures = 0;
MotionKernelForms installedForms{KernelForm::kPortable, KernelForm::kPortable, KernelForm::kPortable,
                                 KernelForm::kPortable};

}  // namespace

MotionKernelForms SelectMotionKernelForms(uint32_t features) {
    MotionKernelForms f{KernelForm::kPortable, KernelForm::kPortable, KernelForm::kPortable, KernelForm::kPortable};
    if (features & common::kCpuMmxExt) f = {KernelForm::kMmx, KernelForm::kMmx, KernelForm::kMmx, KernelForm::kMmx};
    if (features & common::kCpuSse2) f.luma = KernelForm::kSse2;
    return f;
}

uint32_t InstallMotionKernels() {
    std::call_once(installOnce, [] {
        installedFeatures = common::DetectCpuFeatures();
        installedForms = SelectMotionKernelForms(installedFeatures);
    });
    return installedFeatures;
}

uint32_t InstalledCpuFeatures() {
    return installedFeatures;
}

MotionKernelForms InstalledMotionKernelForms() {
    return installedForms;
}

}  // namespace avcdec
