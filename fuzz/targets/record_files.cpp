// Item, capture record and application files as they come off the disk: the
// framing walk and the three readers, with what each promises about its result.
#include <cstdint>
#include <cstdlib>

#include "base/RecordFields.h"
#include "base/RecordFormat.h"

namespace {

bool Inside(ByteSpan part, ByteSpan file) {
    return part.empty() || (part.data() >= file.data() && part.data() + part.size() <= file.data() + file.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteSpan file(data, size);

    // The walk consumes the file without overlap and stops after a field cut short.
    FieldWalker walker(file);
    RecordField field;
    size_t consumed = size >= kRecordHeaderBytes ? kRecordHeaderBytes : 0;
    bool ended = false;
    while (walker.Next(field)) {
        if (ended || !Inside(field.data, file)) abort();
        consumed += kFieldHeaderBytes + field.data.size();
        if (consumed > size) abort();
        if (!field.complete) ended = true;
    }

    ItemFileFields item;
    if (ParseItemFile(file, item) && item.data && !Inside(*item.data, file)) abort();
    CaptureFileFields capture;
    if (ParseCaptureFile(file, capture) && capture.titleUtf8 &&
        (!Inside(*capture.titleUtf8, file) || capture.titleUtf8->size() > kMaxTitleFieldBytes))
        abort();
    AppFileFields app;
    if (ParseAppFile(file, app)) {
        for (const auto& part : {app.titleUtf8, app.colorPayload, app.maskPayload})
            if (part && !Inside(*part, file)) abort();
    }
    return 0;
}
