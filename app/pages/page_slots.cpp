#include "app/pages/page_slots.h"

namespace {
PageFactory& Factory() {
    static PageFactory factory;
    return factory;
}
}  // namespace

void SetPageFactory(const PageFactory& factory) {
    Factory() = factory;
}

const PageFactory& GetPageFactory() {
    return Factory();
}
