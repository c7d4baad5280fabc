// The extension module tavrine._tavrine: the library's coding calls for the
// Python package, which builds its file objects and errors on them.
#include "common.h"

PYBIND11_MODULE(_tavrine, module) {
    namespace py = pybind11;
    module.doc() = "The tavrine library, compiled into the module: bare streams, streaming coders, .tvr files.";
    module.attr("__version__") = tavrine_version();
    module.attr("VARIANT_UNCODED") = TAVRINE_VARIANT_UNCODED;
    module.attr("VARIANT_RANGE_CODED") = TAVRINE_VARIANT_RANGE_CODED;
    module.attr("MIN_SEGMENT_SIZE") = TAVRINE_TVR_MIN_SEGMENT_SIZE;
    module.attr("DEFAULT_SEGMENT_SIZE") = TAVRINE_TVR_DEFAULT_SEGMENT_SIZE;
    module.attr("MAX_SEGMENT_SIZE") = TAVRINE_TVR_MAX_SEGMENT_SIZE;
    module.attr("MAX_THREADS") = TAVRINE_MAX_THREADS;
    module.def(
        "status_text", [](int status) { return tavrine_status_text(static_cast<tavrine_status>(status)); },
        py::arg("status"), "The library's short text for a status number.");
    tavrine::python::registerOneShot(module);
    tavrine::python::registerStreaming(module);
    tavrine::python::registerTvrFiles(module);
}
