// Fills the libzip table: by looking up each function in the shared library, or, in builds that
// link libzip, from the linked functions themselves.
#include "mapxml/zip_library.hpp"

#include <new>
#include <utility>

#include "platform/platform.hpp"

namespace chizuvec {

ZipLibrary load_zip_library(const char* file_name) {
    ZipLibrary zip;
    try {
        zip.file_name = file_name;
        void* library = platform::load_library(file_name);
        if (library == nullptr) {
            zip.error = platform::library_error();
            return zip;
        }
#define CHIZUVEC_ZIP_LOOKUP(name)                                                       \
    if (void* address = platform::library_symbol(library, #name); address != nullptr) { \
        zip.name = reinterpret_cast<decltype(zip.name)>(address);                       \
    } else if (zip.error.empty()) {                                                     \
        zip.error = "no function " #name;                                               \
    }
        CHIZUVEC_ZIP_FUNCTIONS(CHIZUVEC_ZIP_LOOKUP)
#undef CHIZUVEC_ZIP_LOOKUP
    } catch (const std::bad_alloc&) {
        zip.error = "out of memory";
    }
    // A library that lacks a function is never called at all, not even for what it has.
    if (!zip.usable()) {
        ZipLibrary unusable;
        unusable.file_name = std::move(zip.file_name);
        unusable.error = std::move(zip.error);
        return unusable;
    }
    return zip;
}

const ZipLibrary& zip_library() {
#ifdef CHIZUVEC_LIBZIP_SONAME
    static const ZipLibrary zip = load_zip_library(CHIZUVEC_LIBZIP_SONAME);
#else
    static const ZipLibrary zip = [] {
        ZipLibrary linked;
#define CHIZUVEC_ZIP_LINKED(name) linked.name = &::name;
        CHIZUVEC_ZIP_FUNCTIONS(CHIZUVEC_ZIP_LINKED)
#undef CHIZUVEC_ZIP_LINKED
        linked.file_name = "libzip";
        return linked;
    }();
#endif
    return zip;
}

}  // namespace chizuvec
