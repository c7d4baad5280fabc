#include "common.h"

#include <algorithm>
#include <limits>
#include <new>

namespace tavrine::python {

ByteView::ByteView(py::handle object, bool writable) {
    if (PyObject_GetBuffer(object.ptr(), &view_, writable ? PyBUF_WRITABLE : PyBUF_SIMPLE) != 0) {
        throw py::error_already_set();
    }
}

OutputBytes::OutputBytes(std::size_t capacity) { resize(capacity); }

std::uint8_t* OutputBytes::data() const noexcept {
    return reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes_));
}

void OutputBytes::resize(std::size_t size) {
    constexpr auto kLargest = static_cast<std::size_t>(std::numeric_limits<Py_ssize_t>::max());
    if (size > kLargest) throw std::bad_alloc();
    const auto length = static_cast<Py_ssize_t>(size);
    if (bytes_ == nullptr) {
        bytes_ = PyBytes_FromStringAndSize(nullptr, length);
    } else if (_PyBytes_Resize(&bytes_, length) != 0) {
        bytes_ = nullptr;  // released by the failed resize
    }
    if (bytes_ == nullptr) throw py::error_already_set();
    capacity_ = size;
}

void OutputBytes::grow(std::size_t more) {
    const std::size_t wanted = std::max(capacity_ * 2, used_ + more);
    resize(std::max<std::size_t>(wanted, 1));
}

py::bytes OutputBytes::finish() {
    resize(used_);
    PyObject* result = bytes_;
    bytes_ = nullptr;
    return py::reinterpret_steal<py::bytes>(result);
}

void raiseStatus(tavrine_status status, const std::string& message,
                 std::optional<std::uint64_t> offset) {
    if (status == TAVRINE_OUT_OF_MEMORY) {
        PyErr_SetString(PyExc_MemoryError, message.c_str());
        throw py::error_already_set();
    }
    const py::object errorClass = py::module_::import("tavrine._errors").attr("TavrineError");
    const py::object where = offset ? py::object(py::int_(*offset)) : py::object(py::none());
    const py::object error = errorClass(message, static_cast<int>(status), where);
    PyErr_SetObject(errorClass.ptr(), error.ptr());
    throw py::error_already_set();
}

void raiseBadArgument(const std::string& message) { raiseStatus(TAVRINE_BAD_ARGUMENT, message); }

std::uint32_t checkedVariant(long long variant) {
    if (variant != TAVRINE_VARIANT_UNCODED && variant != TAVRINE_VARIANT_RANGE_CODED) {
        raiseBadArgument("variant must be 0 or 5, not " + std::to_string(variant));
    }
    return static_cast<std::uint32_t>(variant);
}

std::uint32_t checkedThreads(long long threads) {
    if (threads < 0 || threads > static_cast<long long>(TAVRINE_MAX_THREADS)) {
        raiseBadArgument("threads must be from 0 to " + std::to_string(TAVRINE_MAX_THREADS) + ", not " +
                         std::to_string(threads));
    }
    return static_cast<std::uint32_t>(threads);
}

ObjectLock::ObjectLock(std::mutex& mutex) : lock_(mutex, std::try_to_lock) {
    if (lock_.owns_lock()) return;
    const py::gil_scoped_release released;
    lock_.lock();
}

}  // namespace tavrine::python
