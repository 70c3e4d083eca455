#pragma once

namespace orva {

// Makes libheif decode HEVC through libde265 with one worker thread per core, ahead of its
// own libde265 plugin (one worker): a phone photo's wavefront-coded rows then decode in
// parallel. Idempotent and thread-safe; called before any HEIF file is opened.
void registerThreadedHevcDecoder();

} // namespace orva
