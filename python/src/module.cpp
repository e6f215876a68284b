// dorvane._dorvane: the codec and the pipeline on numpy arrays and bytes. The package's
// __init__.py gives it its Python face (paths of every kind, file objects, keyword arguments);
// here every call checks its arrays, lets go of the GIL around the work, and turns the library's
// FileFailure into the exception that a Python user expects, with the library's reason.

#include <DorvaneBMPBlur.h>
#include <dorvane/array_files.hpp>
#include <dorvane/array_jobs.hpp>
#include <dorvane/bitmap_image.hpp>
#include <dorvane/bmp_headers.hpp>
#include <dorvane/bmp_reader.hpp>
#include <dorvane/bmp_writer.hpp>
#include <dorvane/file_failure.hpp>
#include <dorvane/file_jobs.hpp>
#include <dorvane/header_inspection.hpp>
#include <dorvane/large_block.hpp>
#include <dorvane/scale_job.hpp>
#include <dorvane/scaling.hpp>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace py = pybind11;
using namespace dorvane;

namespace {

// dorvane.FormatError, made when the module is imported.
PyObject* FormatErrorType = nullptr;

[[noreturn]] void RaiseSet() {
    throw py::error_already_set();
}

// A FormatError with the reason as its message and the file, as an OSError has it, in filename.
[[noreturn]] void RaiseFormatError(const std::string& reason, const py::object& file) {
    py::object error = py::reinterpret_borrow<py::object>(FormatErrorType)(reason);
    error.attr("filename") = file;
    PyErr_SetObject(FormatErrorType, error.ptr());
    RaiseSet();
}

// The Python exception of every kind of failure: OSError (which Python makes FileNotFoundError,
// PermissionError, ... by its errno) for the system's, FormatError for the format's. Every kind
// is listed, so that a new one cannot go without.
PyObject* ExceptionOf(FailureKind kind) {
    switch (kind) {
    case FailureKind::Open:
    case FailureKind::Read:
    case FailureKind::Write:
    case FailureKind::Replace:
    case FailureKind::UntrustedLink:
        return PyExc_OSError;
    case FailureKind::OutOfMemory:
        return PyExc_MemoryError;
    case FailureKind::PathInvalid:
    case FailureKind::UnknownScalingMode:
    case FailureKind::ScaledTooLarge:
        return PyExc_ValueError;
    case FailureKind::None:
    case FailureKind::NotBmp:
    case FailureKind::EmptyFile:
    case FailureKind::OtherFormat:
    case FailureKind::TruncatedHeader:
    case FailureKind::UnsupportedHeaderSize:
    case FailureKind::HeaderPastPixels:
    case FailureKind::RleCompressed:
    case FailureKind::UnsupportedCompression:
    case FailureKind::UnsupportedBitDepth:
    case FailureKind::TopDown:
    case FailureKind::InvalidSize:
    case FailureKind::TooLarge:
        break;
    }
    return FormatErrorType;
}

// The exception for a failure, with the library's reason; an OSError's and a FormatError's also
// name file, in filename.
[[noreturn]] void Raise(const FileFailure& failure, const py::object& file) {
    const std::string reason = failure.Reason();
    PyObject* type = ExceptionOf(failure.Kind);
    if (type == PyExc_OSError) {
        PyErr_SetObject(type, py::make_tuple(failure.SystemError, reason, file).ptr());
    } else if (type == FormatErrorType) {
        RaiseFormatError(reason, file);
    } else {
        PyErr_SetString(type, reason.c_str());
    }
    RaiseSet();
}

// A path as Python gives it to the system: bytes, in the file system's encoding.
struct Path {
    std::string Bytes;

    explicit Path(const py::bytes& path) : Bytes(path) {
        if (Bytes.find('\0') != std::string::npos) {
            throw py::value_error("embedded null byte");
        }
    }
    const char* c_str() const { return Bytes.c_str(); }
    py::object Name() const {
        return py::reinterpret_steal<py::object>(
            PyUnicode_DecodeFSDefaultAndSize(Bytes.data(), static_cast<Py_ssize_t>(Bytes.size())));
    }
};

// A source cut short is read all the same; the caller hears of it as the tool says it.
void WarnIfTruncated(const FileFailure& failure, const py::object& file) {
    if (!failure.Truncated()) {
        return;
    }
    std::string message = "truncated, " + std::to_string(failure.RowsRead) + " of " +
                          std::to_string(failure.RowsExpected) + " rows read";
    if (!file.is_none()) {
        message = py::str(file).cast<std::string>() + ": " + message;
    }
    if (PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) != 0) {
        RaiseSet();
    }
}

using FileJob = std::int32_t (*)(const char* source, const char* output, const JobOptions& options,
                                 FileFailure& failure);

FileFailure RunJob(FileJob job, const Path& source, const Path& output, const JobOptions& options) {
    FileFailure failure;
    std::int32_t result = BMPBLUR_OK;
    {
        const py::gil_scoped_release release;
        result = job(source.c_str(), output.c_str(), options, failure);
    }
    if (result != BMPBLUR_OK) {
        Raise(failure, failure.File == FailedFile::Output ? output.Name() : source.Name());
    }
    return failure;
}

void BlurFile(const py::bytes& source, const py::bytes& output, std::uint32_t threads, bool sync) {
    const Path from(source);
    const Path to(output);
    WarnIfTruncated(RunJob(BlurFiles, from, to, {threads, sync}), from.Name());
}

void EdgesFile(const py::bytes& source, const py::bytes& output, std::uint32_t threads, bool sync) {
    const Path from(source);
    const Path to(output);
    WarnIfTruncated(RunJob(DetectEdgesInFiles, from, to, {threads, sync}), from.Name());
}

// --- Arrays

// What an array must be to cross: a numpy array of uint8, C-contiguous, of the given rank (and,
// at rank 3, three channels), no side beyond what the library counts.
py::array CheckedArray(const py::object& object, const char* what, bool rgb) {
    if (!py::isinstance<py::array>(object)) {
        throw py::type_error(std::string(what) + " must be a numpy array");
    }
    auto array = py::reinterpret_borrow<py::array>(object);
    if (array.dtype().kind() != 'u' || array.itemsize() != 1) {
        throw py::type_error(std::string(what) + " must be of dtype uint8, not " +
                             py::str(array.dtype()).cast<std::string>());
    }
    const bool shaped = rgb ? array.ndim() == 3 && array.shape(2) == 3 : array.ndim() == 2;
    if (!shaped) {
        throw py::value_error(std::string(what) + (rgb ? " must have shape (height, width, 3)"
                                                       : " must have shape (height, width)"));
    }
    if ((array.flags() & py::array::c_style) == 0) {
        throw py::value_error(std::string(what) +
                              " must be C-contiguous (numpy.ascontiguousarray makes it so)");
    }
    constexpr auto limit = static_cast<py::ssize_t>(std::numeric_limits<std::int32_t>::max());
    if (array.shape(0) > limit || array.shape(1) > limit) {
        throw py::value_error(std::string(what) + " has a side longer than 2^31 - 1");
    }
    return array;
}

struct Size {
    std::uint32_t Width;
    std::uint32_t Height;
};

Size SizeOf(const py::array& array) {
    return {static_cast<std::uint32_t>(array.shape(1)), static_cast<std::uint32_t>(array.shape(0))};
}

const std::uint8_t* BytesOf(const py::array& array) {
    return static_cast<const std::uint8_t*>(array.data());
}

// An array of the given shape over block's bytes, which it then owns.
py::array_t<std::uint8_t> ArrayOf(LargeBlock block, std::initializer_list<py::ssize_t> shape) {
    std::uint8_t* pixels = block.get();
    // The capsule holds the block itself, which knows how it was allocated.
    auto held = std::make_unique<LargeBlock>(std::move(block));
    const py::capsule owner(held.get(),
                            [](void* owned) { delete static_cast<LargeBlock*>(owned); });
    held.release();
    return py::array_t<std::uint8_t>(std::vector<py::ssize_t>(shape), pixels, owner);
}

// A new array of the given shape, in a block that the system may back with large pages where it
// is large: a picture's worth of fresh memory then costs a few page faults instead of thousands.
py::array_t<std::uint8_t> NewArray(std::initializer_list<py::ssize_t> shape) {
    std::size_t bytes = 1;
    for (const py::ssize_t side : shape) {
        bytes *= static_cast<std::size_t>(side);
    }
    LargeBlock block = AllocateLargeBlock(std::max<std::size_t>(bytes, 1));
    if (!block) {
        throw std::bad_alloc();
    }
    return ArrayOf(std::move(block), shape);
}

py::array_t<std::uint8_t> NewGray(Size size) {
    return NewArray({static_cast<py::ssize_t>(size.Height), static_cast<py::ssize_t>(size.Width)});
}

ChannelOrder OrderOf(bool bgr) {
    return bgr ? ChannelOrder::Bgr : ChannelOrder::Rgb;
}

py::array_t<std::uint8_t> Gray(const py::object& rgb, bool bgr) {
    const py::array input = CheckedArray(rgb, "rgb", true);
    py::array_t<std::uint8_t> gray = NewGray(SizeOf(input));
    std::uint8_t* out = gray.mutable_data();
    {
        const py::gil_scoped_release release;
        const auto count = static_cast<std::size_t>(input.size() / 3);
        (bgr ? LumaOfBgr : LumaOfRgb)(BytesOf(input), count, out, 0);
    }
    return gray;
}

// The array that a stage writes into: out, which must fit gray, or a new one.
py::array Destination(const py::array& gray, const py::object& out) {
    if (out.is_none()) {
        return NewGray(SizeOf(gray));
    }
    py::array array = CheckedArray(out, "out", false);
    if (!array.writeable()) {
        throw py::value_error("out is read-only");
    }
    if (array.shape(0) != gray.shape(0) || array.shape(1) != gray.shape(1)) {
        throw py::value_error("out must have the shape of gray");
    }
    // The stage reads all of gray before it writes: out is gray itself or apart from it.
    const auto* first = BytesOf(array);
    const auto* source = BytesOf(gray);
    const auto count = static_cast<std::size_t>(gray.size());
    if (first != source && first < source + count && source < first + count) {
        throw py::value_error("out overlaps gray without being gray");
    }
    return array;
}

using ArrayStage = bool (*)(const std::uint8_t* source, const GrayArray& picture,
                            std::uint32_t threads, FileFailure& failure);

py::array RunStage(ArrayStage stage, const py::object& grayObject, const py::object& out) {
    const py::array gray = CheckedArray(grayObject, "gray", false);
    py::array result = Destination(gray, out);
    const Size size = SizeOf(gray);
    if (size.Width == 0 || size.Height == 0) {
        return result;
    }
    const GrayArray picture{static_cast<std::uint8_t*>(result.mutable_data()), size.Width,
                            size.Height};
    FileFailure failure;
    bool done = false;
    {
        const py::gil_scoped_release release;
        done = stage(BytesOf(gray), picture, 0, failure);
    }
    if (!done) {
        Raise(failure, py::none());
    }
    return result;
}

py::array BlurGray(const py::object& gray, const py::object& out) {
    return RunStage(BlurGrayArray, gray, out);
}

py::array Edges(const py::object& gray) {
    return RunStage(DetectEdgesInGrayArray, gray, py::none());
}

// --- Reading

// Reads input into a new array, refusing before any allocation a picture of more than maxPixels.
template <class Input>
py::array ReadRgb(Input input, std::uint64_t maxPixels, const py::object& name, bool bgr) {
    LargeBlock pixels;
    py::ssize_t width = 0;
    py::ssize_t height = 0;
    bool tooLarge = false;
    const RgbAllocation allocate = [&](std::uint32_t w, std::uint32_t h) {
        width = w;
        height = h;
        tooLarge = std::uint64_t{w} * h > maxPixels;
        pixels = tooLarge ? LargeBlock() : AllocateLargeBlock(std::size_t{3} * w * h);
        return pixels.get();
    };
    FileFailure failure;
    bool read = false;
    {
        const py::gil_scoped_release release;
        read = ReadRgbArray(input, allocate, 0, failure, OrderOf(bgr));
    }
    if (tooLarge) {
        const std::string size = std::to_string(width) + " x " + std::to_string(height);
        RaiseFormatError("image too large: " + size + " pixels is more than max_pixels (" +
                             std::to_string(maxPixels) + "); pass a larger max_pixels, or None",
                         name);
    }
    if (!read) {
        Raise(failure, name);
    }
    WarnIfTruncated(failure, name);
    return ArrayOf(std::move(pixels), {height, width, 3});
}

// The bytes of a bytes-like object, held while they are read.
class HeldBuffer {
  public:
    explicit HeldBuffer(const py::object& object) {
        if (PyObject_GetBuffer(object.ptr(), &View, PyBUF_C_CONTIGUOUS) != 0) {
            RaiseSet();
        }
    }
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer() { PyBuffer_Release(&View); }

    std::span<const std::uint8_t> Bytes() const {
        return {static_cast<const std::uint8_t*>(View.buf), static_cast<std::size_t>(View.len)};
    }

  private:
    Py_buffer View{};
};

py::array ReadBmpPath(const py::bytes& source, bool bgr, std::uint64_t maxPixels) {
    const Path path(source);
    return ReadRgb(path.c_str(), maxPixels, path.Name(), bgr);
}

py::array ReadBmpBytes(const py::object& data, bool bgr, std::uint64_t maxPixels) {
    const HeldBuffer buffer(data);
    return ReadRgb(buffer.Bytes(), maxPixels, py::none(), bgr);
}

// --- Writing

// A new file is written at one of the depths that have a standard format.
void CheckDepth(std::int32_t depth) {
    if (!HasPaletteDepth(depth) && depth != 16 && depth != 24 && depth != 32) {
        throw py::value_error("bit_depth must be 1, 4, 8, 16, 24 or 32, not " +
                              std::to_string(depth));
    }
}

// Saves an (H, W) gray or (H, W, 3) RGB array to output, a path or bytes: the one writer either
// way.
template <class Output>
void SaveArray(const py::object& object, std::int32_t depth, bool bgr, Output& output,
               const py::object& name) {
    if (!py::isinstance<py::array>(object)) {
        throw py::type_error("array must be a numpy array");
    }
    const bool rgb = py::reinterpret_borrow<py::array>(object).ndim() == 3;
    const py::array array = CheckedArray(object, "array", rgb);
    const Size size = SizeOf(array);
    if (size.Width == 0 || size.Height == 0 ||
        !BmpDimensionsWithinLimits(static_cast<std::int32_t>(size.Width),
                                   static_cast<std::int32_t>(size.Height))) {
        throw py::value_error("a BMP file holds 1 to 16777216 pixels a side and 268435456 in all");
    }
    CheckDepth(depth);
    FileFailure failure;
    bool saved = false;
    {
        const py::gil_scoped_release release;
        saved = WriteArray(
            ArrayRows{BytesOf(array), size.Width, size.Height, rgb ? 3U : 1U, OrderOf(bgr)}, depth,
            output, 0, failure);
    }
    if (!saved) {
        Raise(failure, name);
    }
}

void WriteBmpPath(const py::object& array, const py::bytes& output, std::int32_t depth, bool bgr) {
    const Path path(output);
    const char* destination = path.c_str();
    SaveArray(array, depth, bgr, destination, path.Name());
}

py::bytes EncodeBmp(const py::object& array, std::int32_t depth, bool bgr) {
    std::vector<std::uint8_t> bytes;
    SaveArray(array, depth, bgr, bytes, py::none());
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// --- Headers and scaling

py::dict HeaderDict(const FileHeader& file, const InfoHeader& info) {
    py::dict fields;
    const auto put = [&fields](const auto& field, auto value) {
        fields[py::str(field.Name.data(), field.Name.size())] = value;
    };
    ForEachField(file, put);
    ForEachField(info, put);
    return fields;
}

template <class Input> py::dict Header(Input input, const py::object& name) {
    FileHeader file;
    InfoHeader info;
    FileFailure failure;
    if (!ReadBmpHeaders(input, file, info, failure)) {
        Raise(failure, name);
    }
    return HeaderDict(file, info);
}

py::dict HeaderPath(const py::bytes& source) {
    const Path path(source);
    return Header(path.c_str(), path.Name());
}

py::dict HeaderBytes(const py::object& data) {
    const HeldBuffer buffer(data);
    return Header(buffer.Bytes(), py::none());
}

py::array Scale(const py::object& rgbObject, char mode, std::int32_t value) {
    const py::array rgb = CheckedArray(rgbObject, "rgb", true);
    const Size size = SizeOf(rgb);
    if (size.Width == 0 || size.Height == 0 ||
        !BmpDimensionsWithinLimits(static_cast<std::int32_t>(size.Width),
                                   static_cast<std::int32_t>(size.Height))) {
        throw py::value_error("rgb must have 1 to 16777216 pixels a side and 268435456 in all");
    }
    const std::optional<ScaledSize> scaled = ScaledSizeOf(
        mode, static_cast<std::int32_t>(size.Width), static_cast<std::int32_t>(size.Height), value);
    if (!scaled) {
        throw py::value_error("the scaled picture would be too large");
    }
    py::array_t<std::uint8_t> result = NewArray(
        {static_cast<py::ssize_t>(scaled->Height), static_cast<py::ssize_t>(scaled->Width), 3});
    bool done = false;
    {
        const py::gil_scoped_release release;
        done = ScaleRgbArray({BytesOf(rgb), size.Width, size.Height, 3}, *scaled,
                             result.mutable_data(), 0);
    }
    if (!done) {
        throw std::bad_alloc();
    }
    return result;
}

} // namespace

PYBIND11_MODULE(_dorvane, module) {
    module.doc() = "The compiled core of dorvane; use the functions of the package itself.";
    module.attr("__version__") = DORVANE_VERSION;
    // filename is None unless the library sets it, as an OSError's is.
    py::dict fields;
    fields["filename"] = py::none();
    FormatErrorType = PyErr_NewExceptionWithDoc(
        "dorvane.FormatError",
        "A file that the BMP format's rules, as this library reads them, reject; filename names "
        "it, when it has a name.",
        PyExc_ValueError, fields.ptr());
    if (FormatErrorType == nullptr) {
        RaiseSet();
    }
    module.add_object("FormatError", py::handle(FormatErrorType));

    module.def("blur_file", BlurFile, py::arg("source"), py::arg("output"), py::arg("threads"),
               py::arg("sync"));
    module.def("edges_file", EdgesFile, py::arg("source"), py::arg("output"), py::arg("threads"),
               py::arg("sync"));
    module.def("read_bmp_path", ReadBmpPath, py::arg("source"), py::arg("bgr"),
               py::arg("max_pixels"));
    module.def("read_bmp_bytes", ReadBmpBytes, py::arg("data"), py::arg("bgr"),
               py::arg("max_pixels"));
    module.def("write_bmp_path", WriteBmpPath, py::arg("array"), py::arg("output"),
               py::arg("bit_depth"), py::arg("bgr"));
    module.def("encode_bmp", EncodeBmp, py::arg("array"), py::arg("bit_depth"), py::arg("bgr"));
    module.def("header_path", HeaderPath, py::arg("source"));
    module.def("header_bytes", HeaderBytes, py::arg("data"));
    module.def("gray", Gray, py::arg("rgb"), py::arg("bgr"));
    module.def("blur_gray", BlurGray, py::arg("gray"), py::arg("out"));
    module.def("edges", Edges, py::arg("gray"));
    module.def("scale", Scale, py::arg("rgb"), py::arg("mode"), py::arg("value"));
}
