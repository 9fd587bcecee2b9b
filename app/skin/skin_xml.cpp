// Reading the skin file through the MSXML DOM into the element tree the layout reader walks.
#include <windows.h>
#include <objbase.h>
#include <msxml.h>

#include <string>

#include "app/resources/resource_ids.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_xml.h"
#include "framework/app.h"
#include "framework/string.h"

namespace {

// The DOM levels the reader looks at: document, APP, view, subview, control, and the
// region or image elements of a control. Deeper elements are never read.
constexpr int kDomDepth = 5;

std::string Narrow(BSTR text) {
    if (!text) return {};
    const int length = static_cast<int>(SysStringLen(text));
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

struct Converter {
    size_t count = 0;
    bool overflow = false;

    bool Convert(IXMLDOMNode* node, SkinXmlNode& out, int depth) {
        if (++count > kSkinMaxNodes) {
            overflow = true;
            return false;
        }
        BSTR name = nullptr;
        if (SUCCEEDED(node->get_nodeName(&name))) out.name = Narrow(name);
        SysFreeString(name);
        DOMNodeType type = NODE_INVALID;
        node->get_nodeType(&type);
        out.type = static_cast<int>(type);
        IXMLDOMNamedNodeMap* map = nullptr;
        out.hasAttributes = SUCCEEDED(node->get_attributes(&map)) && map;
        if (map) {
            IXMLDOMNode* attribute = nullptr;
            while (map->nextNode(&attribute) == S_OK && attribute) {
                BSTR attrName = nullptr, value = nullptr;
                attribute->get_nodeName(&attrName);
                attribute->get_text(&value);
                out.attributes.emplace_back(Narrow(attrName), Narrow(value));
                SysFreeString(attrName);
                SysFreeString(value);
                attribute->Release();
                attribute = nullptr;
                if (++count > kSkinMaxNodes) {
                    overflow = true;
                    break;
                }
            }
            map->Release();
            if (overflow) return false;
        }
        if (depth >= kDomDepth) return true;
        IXMLDOMNode* child = nullptr;
        node->get_firstChild(&child);
        while (child) {
            out.children.emplace_back();
            const bool ok = Convert(child, out.children.back(), depth + 1);
            IXMLDOMNode* next = nullptr;
            if (ok) child->get_nextSibling(&next);
            child->Release();
            if (!ok) return false;
            child = next;
        }
        return true;
    }
};

// Shows the parse error of a document that did not load; false when there was one.
bool ReportParseError(IXMLDOMDocument* document) {
    IXMLDOMParseError* error = nullptr;
    if (FAILED(document->get_parseError(&error)) || !error) return true;
    long code = 0;
    error->get_errorCode(&code);

    if (code == 0) {
        error->Release();
        return true;
    }
    long line = 0, position = 0;
    BSTR url = nullptr, reason = nullptr;
    // The position is what the message needs; a parser that cannot name the file or the
    // reason still gets its message shown, with those parts empty.
    if (SUCCEEDED(error->get_line(&line)) && SUCCEEDED(error->get_linepos(&position))) {
        if (FAILED(error->get_url(&url))) url = nullptr;
        if (FAILED(error->get_reason(&reason))) reason = nullptr;
        fprintf(stderr, "%ls", reason ? reason : L"");
        if (position > 0) {
            CString text;
            text.FormatId(IDS_SKIN_PARSE_ERROR, static_cast<int>(line), static_cast<int>(position), url ? url : L"");
            AfxMessageBox(text, MB_OK);
        }
    }
    SysFreeString(url);
    SysFreeString(reason);
    error->Release();
    return false;
}

}  // namespace

int LoadSkinXml(const char* path, SkinXmlNode* document) {
    *document = SkinXmlNode{};
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IXMLDOMDocument* dom = nullptr;
    int result = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                   reinterpret_cast<void**>(&dom)))) {
        wchar_t wide[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH - 1);
        BSTR name = SysAllocString(wide);
        dom->put_async(VARIANT_FALSE);
        VARIANT source;
        VariantInit(&source);
        source.vt = VT_BSTR;
        source.bstrVal = name;
        VARIANT_BOOL loaded = VARIANT_FALSE;
        const HRESULT hr = dom->load(source, &loaded);
        if (hr == S_OK && loaded == VARIANT_TRUE) {
            IXMLDOMNode* root = nullptr;
            if (SUCCEEDED(dom->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(&root))) && root) {
                Converter converter;
                result = converter.Convert(root, *document, 0) ? 1 : 0;
                if (converter.overflow) AfxMessageBox("The skin file holds too many elements.", MB_OK);
                root->Release();
            }
        } else {
            ReportParseError(dom);
        }
        SysFreeString(name);
        dom->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return result;
}

int ParseSkinFile(const char* path) {
    SkinXmlNode document;
    if (!LoadSkinXml(path, &document)) return 0;
    SkinReaderHost host;
    host.showMessage = [](const std::string& text) { AfxMessageBox(text.c_str(), MB_OK); };
    host.unknownAppAttributeText = [](const std::string& attribute) {
        std::wstring wide(attribute.begin(), attribute.end());
        CString text;
        if (!text.FormatId(IDS_SKIN_BAD_ATTRIBUTE, wide.c_str())) text = attribute.c_str();
        return std::string(text);
    };
    host.checkImageFile = [](const std::string& source) { return CheckSkinImageFile(source.c_str()) != 0; };
    return CSkinLayout::ReadDocument(document, host) >= 0 ? 1 : 0;
}

int CSkinLayout::Load(const char* fileName) {
    if (!fileName) return 0;
    char folder[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, folder, MAX_PATH);
    if (char* slash = strrchr(folder, '\\')) slash[1] = '\0';
    std::string path = std::string(folder) + fileName;
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        char current[MAX_PATH] = {};
        GetCurrentDirectoryA(MAX_PATH, current);
        path = std::string(current) + "\\" + fileName;
    }
    if (ParseSkinFile(path.c_str())) return 1;
    // A failed load leaves no half-built tree behind.
    Free();
    return 0;
}
