// Root of the framework's class tree: run-time class information, so that objects can be
// created by their registered class name ("CGButton", "CSetProfileDlg") and asked
// whether they derive from a class.
#pragma once

class CObject;

struct CRuntimeClass {
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;
    CObject* (*m_pfnCreateObject)();  // null for classes that cannot be created by name

    CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
    bool IsDerivedFrom(const CRuntimeClass* base) const;

    // The class registered under `name` (exact, case-sensitive), or null.
    static const CRuntimeClass* FromName(const char* name);
    // Creates an object of the class registered under `name`; null when the name is unknown
    // or the class is not creatable.
    static CObject* CreateObject(const char* name);
};

// Adds a class to the process-wide registry; used by IMPLEMENT_DYNAMIC at static
// initialisation time.
struct RuntimeClassRegistration {
    explicit RuntimeClassRegistration(const CRuntimeClass* cls);
};

class CObject {
public:
    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    bool IsKindOf(const CRuntimeClass* cls) const { return GetRuntimeClass()->IsDerivedFrom(cls); }

    static const CRuntimeClass classCObject;
};

#define RUNTIME_CLASS(cls) (&cls::class##cls)

#define DECLARE_DYNAMIC(cls)               \
public:                                    \
    static const CRuntimeClass class##cls; \
    const CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(cls) \
    DECLARE_DYNAMIC(cls)       \
    static CObject* CreateObject();

#define FW_IMPLEMENT_RUNTIME(cls, base, creator)                                \
    const CRuntimeClass cls::class##cls { #cls, RUNTIME_CLASS(base), creator }; \
    const CRuntimeClass* cls::GetRuntimeClass() const {                         \
        return RUNTIME_CLASS(cls);                                              \
    }                                                                           \
    static const RuntimeClassRegistration fw_registration_##cls{RUNTIME_CLASS(cls)};

#define IMPLEMENT_DYNAMIC(cls, base) FW_IMPLEMENT_RUNTIME(cls, base, nullptr)

#define IMPLEMENT_DYNCREATE(cls, base) \
    CObject* cls::CreateObject() {     \
        return new cls;                \
    }                                  \
    FW_IMPLEMENT_RUNTIME(cls, base, &cls::CreateObject)
