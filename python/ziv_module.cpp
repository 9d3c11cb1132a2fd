// The Python module ziv on zivcam: Camera.grab() and Camera.stream() give
// numpy arrays of 8-bit grey pixels, shape (rows, width), each owning its
// memory; the reply's geometry is Camera.last_geometry. The interpreter lock
// is released while the module waits on the network.
#include "zivcam/camera.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

namespace py = pybind11;

namespace {

// The geometry of the array handed out last; stride is the array's row pitch.
struct PyGeometry {
    ziv::Geometry g;
    std::int64_t stride = 0;
};

std::chrono::milliseconds timeout_ms(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds))
        throw py::value_error("timeout must be a positive number of seconds");
    return std::chrono::milliseconds(std::llround(std::min(seconds, 2e6) * 1000.0));
}

// Marks the camera busy while a call uses it with the lock released: a second
// thread on the same camera is refused rather than let in on its socket.
class Busy {
public:
    explicit Busy(bool& flag) : flag_(flag) {
        if (flag_) throw ziv::UsageError("the camera is in use by another thread (one camera per thread)");
        flag_ = true;
    }
    ~Busy() { flag_ = false; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    bool& flag_;
};

class PyCamera {
public:
    PyCamera(const std::string& host, int port, double timeout) : camera_(host, port, timeout_ms(timeout)) {}

    py::array_t<std::uint8_t> grab(const ziv::Window& window) {
        Busy busy(busy_);
        ++stream_generation_;  // a running stream ends
        {
            py::gil_scoped_release unlocked;
            camera_.grab(window, single_);
        }
        py::array_t<std::uint8_t> a({single_.rows(), single_.width()});
        if (single_.size_bytes() > 0) std::memcpy(a.mutable_data(), single_.data(), single_.size_bytes());
        last_ = {single_.geometry(), single_.width()};
        return a;
    }

    // For Stream: starts the live stream and returns its generation.
    std::uint64_t start_stream(const ziv::Window& window) {
        Busy busy(busy_);
        const std::uint64_t generation = ++stream_generation_;
        py::gil_scoped_release unlocked;
        camera_.start_stream(window);
        return generation;
    }

    py::array_t<std::uint8_t> next(std::uint64_t generation) {
        if (generation != stream_generation_)
            throw ziv::UsageError("this stream was ended by a later grab() or stream() on the same camera");
        Busy busy(busy_);
        ziv::Geometry g;
        {
            py::gil_scoped_release unlocked;
            g = camera_.begin_frame();
        }
        // The array is made with the lock held, the pixels land in it without.
        py::array_t<std::uint8_t> a({g.rows, g.width});
        std::uint8_t* dst = a.mutable_data();
        const std::size_t bytes = std::size_t(g.pixel_bytes());
        {
            py::gil_scoped_release unlocked;
            camera_.read_pixels(dst, bytes);
        }
        last_ = {g, g.width};
        return a;
    }

    void end_stream(std::uint64_t generation) {
        if (generation != stream_generation_ || busy_) return;
        ++stream_generation_;
        camera_.stop_stream();
    }

    ziv::Camera& camera() { return camera_; }
    const std::optional<PyGeometry>& last() const { return last_; }

private:
    ziv::Camera camera_;
    ziv::Image single_;  // reused by grab()
    std::uint64_t stream_generation_ = 0;
    std::optional<PyGeometry> last_;
    bool busy_ = false;  // read and written with the lock held
};

class PyStream {
public:
    PyStream(py::object owner, const ziv::Window& window, std::optional<std::int64_t> count)
        : owner_(std::move(owner)), camera_(owner_.cast<PyCamera*>()), left_(count) {
        if (left_ && *left_ < 0) throw py::value_error("count must not be negative");
        generation_ = camera_->start_stream(window);
    }
    ~PyStream() { close(); }

    py::array_t<std::uint8_t> next() {
        if (done_ || (left_ && *left_ == 0)) {
            close();
            throw py::stop_iteration();
        }
        try {
            py::array_t<std::uint8_t> a = camera_->next(generation_);
            if (left_) --*left_;
            return a;
        } catch (...) {
            close();
            throw;
        }
    }

    void close() {
        if (done_) return;
        done_ = true;
        camera_->end_stream(generation_);
    }

private:
    py::object owner_;  // keeps the camera alive
    PyCamera* camera_;
    std::optional<std::int64_t> left_;
    std::uint64_t generation_ = 0;
    bool done_ = false;
};

ziv::Window window_of(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy, std::int32_t incrx,
                      std::int32_t incry) {
    return ziv::Window{x, y, dx, dy, incrx, incry};
}

}  // namespace

PYBIND11_MODULE(ziv, m) {
    m.doc() = "Images from the camera's image server as numpy arrays (8-bit grey, shape (rows, width)).";

    // Subclasses after their base: pybind11 tries the newest translator first.
    const py::handle error = py::register_exception<ziv::Error>(m, "Error").ptr();
#define ZIV_PY_ERROR(Type) py::register_exception<ziv::Type>(m, #Type, error);
    ZIV_PY_ERROR(ConnectError)
    ZIV_PY_ERROR(ConnectionClosedError)
    ZIV_PY_ERROR(ShortReplyError)
    ZIV_PY_ERROR(BadHeaderError)
    ZIV_PY_ERROR(TimeoutError)
    ZIV_PY_ERROR(SendError)
    ZIV_PY_ERROR(ReceiveError)
    ZIV_PY_ERROR(NoMemoryError)
    ZIV_PY_ERROR(CancelledError)
    ZIV_PY_ERROR(UsageError)
#undef ZIV_PY_ERROR

    py::class_<PyGeometry>(m, "Geometry", "The window a reply delivered and its pixel counts.")
        .def_property_readonly("x", [](const PyGeometry& g) { return g.g.x; })
        .def_property_readonly("y", [](const PyGeometry& g) { return g.g.y; })
        .def_property_readonly("dx", [](const PyGeometry& g) { return g.g.dx; })
        .def_property_readonly("dy", [](const PyGeometry& g) { return g.g.dy; })
        .def_property_readonly("incrx", [](const PyGeometry& g) { return g.g.incrx; })
        .def_property_readonly("incry", [](const PyGeometry& g) { return g.g.incry; })
        .def_property_readonly("width", [](const PyGeometry& g) { return g.g.width; })
        .def_property_readonly("rows", [](const PyGeometry& g) { return g.g.rows; })
        .def_property_readonly("stride", [](const PyGeometry& g) { return g.stride; })
        .def("__repr__", [](const PyGeometry& g) {
            return "Geometry(x=" + std::to_string(g.g.x) + ", y=" + std::to_string(g.g.y) +
                   ", dx=" + std::to_string(g.g.dx) + ", dy=" + std::to_string(g.g.dy) +
                   ", incrx=" + std::to_string(g.g.incrx) + ", incry=" + std::to_string(g.g.incry) +
                   ", width=" + std::to_string(g.g.width) + ", rows=" + std::to_string(g.g.rows) + ")";
        });

    py::class_<PyStream>(m, "Stream", "A live stream: iterate for images; ends after count images.")
        .def("__iter__", [](PyStream& s) -> PyStream& { return s; })
        .def("__next__", &PyStream::next)
        .def("close", &PyStream::close, "Ends the stream and closes its connection.")
        .def("__enter__", [](PyStream& s) -> PyStream& { return s; })
        .def("__exit__", [](PyStream& s, py::args) { s.close(); });

    py::class_<PyCamera>(m, "Camera", "A camera's image server at host:port.")
        .def(py::init<const std::string&, int, double>(), py::arg("host"), py::arg("port") = 2002,
             py::arg("timeout") = 5.0,
             "timeout: seconds the camera may stay silent (and connecting may take) before ziv.TimeoutError")
        .def(
            "grab",
            [](PyCamera& c, std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy, std::int32_t incrx,
               std::int32_t incry) { return c.grab(window_of(x, y, dx, dy, incrx, incry)); },
            py::kw_only(), py::arg("x") = 0, py::arg("y") = 0, py::arg("dx"), py::arg("dy"), py::arg("incrx") = 1,
            py::arg("incry") = 1, "One image on a connection of its own: a uint8 array of shape (rows, width).")
        .def(
            "stream",
            [](py::object self, std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy, std::int32_t incrx,
               std::int32_t incry, std::optional<std::int64_t> count) {
                return std::make_unique<PyStream>(self, window_of(x, y, dx, dy, incrx, incry), count);
            },
            py::kw_only(), py::arg("x") = 0, py::arg("y") = 0, py::arg("dx"), py::arg("dy"), py::arg("incrx") = 1,
            py::arg("incry") = 1, py::arg("count") = py::none(),
            "A live stream on one connection: yields a new array per image, count images (None: endless).")
        .def_property_readonly(
            "last_geometry",
            [](const PyCamera& c) -> py::object { return c.last() ? py::cast(*c.last()) : py::none(); },
            "The geometry of the last image returned (None before the first).")
        .def(
            "cancel", [](PyCamera& c) { c.camera().cancel(); },
            "Makes a wait of this camera (in another thread) raise ziv.CancelledError, until clear_cancel().")
        .def("clear_cancel", [](PyCamera& c) { c.camera().clear_cancel(); })
        .def_property_readonly("host", [](PyCamera& c) { return c.camera().host(); })
        .def_property_readonly("port", [](PyCamera& c) { return c.camera().port(); })
        .def_property(
            "timeout", [](PyCamera& c) { return double(c.camera().timeout().count()) / 1000.0; },
            [](PyCamera& c, double seconds) { c.camera().set_timeout(timeout_ms(seconds)); });
}
