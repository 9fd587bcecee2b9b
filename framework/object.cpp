#include "framework/object.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace {

// Function-local so that registrations from other translation units' static
// initialisers find it constructed.
struct Registry {
    std::mutex lock;
    std::vector<const CRuntimeClass*> classes;
};
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

const CRuntimeClass CObject::classCObject{"CObject", nullptr, nullptr};
static const RuntimeClassRegistration fw_registration_CObject{&CObject::classCObject};

const CRuntimeClass* CObject::GetRuntimeClass() const {
    return &classCObject;
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
    for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass)
        if (c == base) return true;
    return false;
}

RuntimeClassRegistration::RuntimeClassRegistration(const CRuntimeClass* cls) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.classes.push_back(cls);
}

const CRuntimeClass* CRuntimeClass::FromName(const char* name) {
    if (!name) return nullptr;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    for (const CRuntimeClass* c : r.classes)
        if (std::strcmp(c->m_lpszClassName, name) == 0) return c;
    return nullptr;
}

CObject* CRuntimeClass::CreateObject(const char* name) {
    const CRuntimeClass* cls = FromName(name);
    return cls ? cls->CreateObject() : nullptr;
}
