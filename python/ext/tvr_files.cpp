// The library's .tvr reader and writer on Python file objects: the library
// calls the file's readinto() (or read()) and write() through callbacks that
// take the GIL back, on the thread that called into it; the coding runs with
// the GIL released, on worker threads when asked. An exception the file
// raises is kept and raised again once the library call has returned.
#include <memory>
#include <string>

#include "common.h"

namespace tavrine::python {
namespace {

struct ReaderFree {
    void operator()(tavrine_tvr_reader* reader) const noexcept { tavrine_tvr_reader_free(reader); }
};
struct WriterFree {
    void operator()(tavrine_tvr_writer* writer) const noexcept { tavrine_tvr_writer_free(writer); }
};

// A .tvr failure as TavrineError: the library's message, its status, and
// where the input was damaged.
[[noreturn]] void raiseReport(tavrine_status status, const tavrine_tvr_report& report) {
    if (status == TAVRINE_IO_ERROR) {  // the file's own exception was raised with the first failure
        PyErr_SetString(PyExc_OSError, (std::string(report.message) + ": the file failed earlier").c_str());
        throw py::error_already_set();
    }
    std::string message = report.message[0] != '\0' ? report.message : tavrine_status_text(status);
    std::optional<std::uint64_t> offset;
    if (status == TAVRINE_CORRUPT || status == TAVRINE_TRUNCATED || status == TAVRINE_UNKNOWN_FORMAT) {
        offset = report.fault_offset;
        message += " (" + std::string(tavrine_status_text(status)) + " at byte " +
                   std::to_string(report.fault_offset) + ")";
    }
    raiseStatus(status, message, offset);
}

// What a file's method raised, kept while the library call unwinds.
class CallbackFailure {
public:
    void keep(py::error_already_set&& error) { error_ = std::make_unique<py::error_already_set>(std::move(error)); }
    void keep(const char* message) {
        PyErr_SetString(PyExc_OSError, message);
        keep(py::error_already_set());
    }
    // Raises what was kept, if anything.
    void raiseKept() {
        if (!error_) return;
        const py::error_already_set error = std::move(*error_);
        error_.reset();
        throw error;
    }

private:
    std::unique_ptr<py::error_already_set> error_;
};

// A memoryview of the library's buffer, lent to a file's readinto().
struct LentView {
    LentView(void* buffer, py::ssize_t length) : view(py::memoryview::from_memory(buffer, length)) {}
    // Releasing twice does nothing; a failure here (the file made views of
    // its own of the buffer) has been raised on the normal way out.
    ~LentView() {
        PyObject* result = PyObject_CallMethod(view.ptr(), "release", nullptr);
        if (result == nullptr) PyErr_Clear();
        Py_XDECREF(result);
    }
    LentView(const LentView&) = delete;
    LentView& operator=(const LentView&) = delete;
    void release() const { view.attr("release")(); }

    py::memoryview view;
};

class TvrReader {
public:
    TvrReader(py::object file, long long threads) : file_(std::move(file)) {
        if (py::hasattr(file_, "readinto")) {
            readinto_ = file_.attr("readinto");
        } else {
            read_ = file_.attr("read");
        }
        tavrine_tvr_settings settings;
        tavrine_tvr_settings_init(&settings);
        settings.threads = checkedThreads(threads);
        tavrine_tvr_reader* reader = nullptr;
        const tavrine_status status = tavrine_tvr_reader_create(&TvrReader::readFrom, this, &settings, &reader);
        if (status != TAVRINE_OK) raiseStatus(status, tavrine_status_text(status));
        reader_.reset(reader);
    }

    std::size_t readinto(py::handle buffer) {
        const ObjectLock lock(mutex_);
        if (!reader_) throw py::value_error("I/O operation on closed file");
        const ByteView into(buffer, true);
        std::size_t produced = 0;
        tavrine_status status = TAVRINE_OK;
        {
            const py::gil_scoped_release released;
            status = tavrine_tvr_read(reader_.get(), into.writableData(), into.size(), &produced);
        }
        if (status == TAVRINE_OK) return produced;
        failure_.raiseKept();
        tavrine_tvr_report report;
        tavrine_tvr_reader_report(reader_.get(), &report);
        raiseReport(status, report);
    }

    void close() {
        const ObjectLock lock(mutex_);
        const py::gil_scoped_release released;  // joins the worker threads
        reader_.reset();
    }

private:
    static std::size_t readFrom(void* user, void* buffer, std::size_t capacity) noexcept {
        auto& self = *static_cast<TvrReader*>(user);
        const py::gil_scoped_acquire acquired;
        try {
            return self.readFile(buffer, capacity);
        } catch (py::error_already_set& error) {
            self.failure_.keep(std::move(error));
        } catch (...) {
            self.failure_.keep("the file could not be read");
        }
        return TAVRINE_READ_FAILED;
    }

    std::size_t readFile(void* buffer, std::size_t capacity) {
        const auto length = static_cast<py::ssize_t>(capacity);
        if (readinto_) {
            // The file must not keep the library's buffer: the view is released
            // on the way out, also when readinto() raised.
            const LentView view(buffer, length);
            const py::object got = readinto_(view.view);
            view.release();
            if (got.is_none()) throw py::value_error("the file has no data ready (non-blocking?)");
            const auto count = got.cast<std::size_t>();
            if (count > capacity) throw py::value_error("readinto() returned more than it was asked for");
            return count;
        }
        const py::object got = read_(length);
        if (got.is_none()) throw py::value_error("the file has no data ready (non-blocking?)");
        const ByteView bytes(got);
        if (bytes.size() > capacity) throw py::value_error("read() returned more than it was asked for");
        std::copy_n(bytes.data(), bytes.size(), static_cast<std::uint8_t*>(buffer));
        return bytes.size();
    }

    std::mutex mutex_;
    py::object file_;
    py::object readinto_;
    py::object read_;
    CallbackFailure failure_;
    std::unique_ptr<tavrine_tvr_reader, ReaderFree> reader_;  // last: stopped first
};

class TvrWriter {
public:
    TvrWriter(py::object file, long long variant, long long segmentSize, long long threads)
        : file_(std::move(file)), write_(file_.attr("write")) {
        tavrine_tvr_settings settings;
        tavrine_tvr_settings_init(&settings);
        settings.variant = checkedVariant(variant);
        settings.threads = checkedThreads(threads);
        if (segmentSize < TAVRINE_TVR_MIN_SEGMENT_SIZE || segmentSize > TAVRINE_TVR_MAX_SEGMENT_SIZE) {
            raiseBadArgument("segment_size must be from " + std::to_string(TAVRINE_TVR_MIN_SEGMENT_SIZE) + " to " +
                             std::to_string(TAVRINE_TVR_MAX_SEGMENT_SIZE) + ", not " +
                             std::to_string(segmentSize));
        }
        settings.segment_size = static_cast<std::uint32_t>(segmentSize);
        tavrine_tvr_writer* writer = nullptr;
        const tavrine_status status = tavrine_tvr_writer_create(&TvrWriter::writeTo, this, &settings, &writer);
        if (status != TAVRINE_OK) raiseStatus(status, tavrine_status_text(status));
        writer_.reset(writer);
    }

    void write(py::handle data) {
        const ObjectLock lock(mutex_);
        if (!writer_) throw py::value_error("I/O operation on closed file");
        const ByteView input(data);
        tavrine_status status = TAVRINE_OK;
        {
            const py::gil_scoped_release released;
            status = tavrine_tvr_write(writer_.get(), input.data(), input.size());
        }
        check(status);
    }

    // Completes the member; a failure leaves it incomplete.
    void close() {
        const ObjectLock lock(mutex_);
        if (!writer_) return;
        tavrine_status status = TAVRINE_OK;
        {
            const py::gil_scoped_release released;
            status = tavrine_tvr_writer_close(writer_.get());
        }
        check(status);
        const py::gil_scoped_release released;
        writer_.reset();
    }

private:
    void check(tavrine_status status) {
        if (status == TAVRINE_OK) return;
        failure_.raiseKept();
        tavrine_tvr_report report;
        tavrine_tvr_writer_report(writer_.get(), &report);
        raiseReport(status, report);
    }

    static int writeTo(void* user, const void* data, std::size_t size) noexcept {
        auto& self = *static_cast<TvrWriter*>(user);
        const py::gil_scoped_acquire acquired;
        try {
            self.writeFile(data, size);
            return 0;
        } catch (py::error_already_set& error) {
            self.failure_.keep(std::move(error));
        } catch (...) {
            self.failure_.keep("the file could not be written");
        }
        return 1;
    }

    // A copy goes to the file, which may keep what it is given. A count below
    // the size (a raw file) is followed by the rest; None, as many writers
    // return, counts as all.
    void writeFile(const void* data, std::size_t size) {
        const py::bytes chunk(static_cast<const char*>(data), size);
        std::size_t written = 0;
        while (written < size) {
            const py::object count =
                written == 0 ? write_(chunk) : write_(py::memoryview(chunk)[py::slice(
                                                    static_cast<py::ssize_t>(written), static_cast<py::ssize_t>(size), 1)]);
            if (count.is_none()) return;
            const auto n = count.cast<std::size_t>();
            if (n == 0 || n > size - written) throw py::value_error("write() wrote nothing, or more than it was given");
            written += n;
        }
    }

    std::mutex mutex_;
    py::object file_;
    py::object write_;
    CallbackFailure failure_;
    std::unique_ptr<tavrine_tvr_writer, WriterFree> writer_;  // last: stopped first
};

}  // namespace

void registerTvrFiles(py::module_& module) {
    py::class_<TvrReader>(module, "TvrReader", R"doc(TvrReader(file, threads=0)

The decoded content of the .tvr data that file.readinto() (or file.read())
gives, every member in turn, verified segment by segment; used by TvrFile.
threads worker threads decode segments ahead (0: none).)doc")
        .def(py::init<py::object, long long>(), py::arg("file"), py::arg("threads") = 0)
        .def("readinto", &TvrReader::readinto, py::arg("buffer"),
             R"doc(Fill buffer with decoded bytes and return their count: fewer than it holds
only at the end, and 0 only once every checksum of the content agreed.)doc")
        .def("close", &TvrReader::close, "Stop the worker threads; the file stays open.");

    py::class_<TvrWriter>(module, "TvrWriter", R"doc(TvrWriter(file, variant=5, segment_size=1048576, threads=0)

Writes one .tvr member through file.write(): the bytes of the tool's
compression for the same input and settings, whatever the thread count and
however the input is cut; used by TvrFile.)doc")
        .def(py::init<py::object, long long, long long, long long>(), py::arg("file"),
             py::arg("variant") = TAVRINE_VARIANT_RANGE_CODED,
             py::arg("segment_size") = TAVRINE_TVR_DEFAULT_SEGMENT_SIZE, py::arg("threads") = 0)
        .def("write", &TvrWriter::write, py::arg("data"), "Take data (any object with the buffer protocol).")
        .def("close", &TvrWriter::close,
             "Code the rest and write the end frame; the file stays open. Further closes do nothing.");
}

}  // namespace tavrine::python
