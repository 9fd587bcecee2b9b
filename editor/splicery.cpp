// Splicery: the in-process COM server of the editing component.
#include "editor/mpeg_editor.h"
#include "filters/base/server.h"

namespace {

const FactoryTemplate kTemplates[] = {
    {kMpegEditorName, &CLSID_MpegEditor, &CMpegEditor::CreateInstance, nullptr},
};

}  // namespace

FILTERBASE_DEFINE_SERVER_EXPORTS(kTemplates)
