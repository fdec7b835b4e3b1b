#include "frame/error.hpp"

#include <unistd.h>

#include <cstdlib>
#include <new>

#include "frame/compat.hpp"
#include "frame/fault.hpp"
#include "frame/once.hpp"

namespace pelm {
namespace {

constexpr std::string_view missing_exception_text = "attempted to fetch exception but none was set";

// 235 bytes: what the type is for, beginning and ending with a line break.
constexpr const char* panic_exception_doc =
    "\nThe exception raised when native code run from Python hits an internal fault.\n"
    "\nLike SystemExit, it derives from BaseException so that it will typically\n"
    "propagate all the way through the stack and cause the Python interpreter to exit.\n";

InterpreterOnceCell<> PANIC_EXCEPTION_TYPE;

}  // namespace

OwnedText qualified_type_name(PyObject* type) {
    OwnedRef name = OwnedRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(type)));
    if (!name) {
        discard_raised_exception();
        return OwnedText("<failed to extract type name>");
    }
    return lossy_text(name.get());
}

namespace {

OwnedText type_mismatch_text(PyObject* object, PyObject* expected_type) {
    OwnedText expected = qualified_type_name(expected_type);
    OwnedText text;
    if (object == Py_None) {
        text = "'None' is not an instance of '";
    } else {
        text = "'";
        text += qualified_type_name(reinterpret_cast<PyObject*>(Py_TYPE(object)));
        text += "' object is not an instance of '";
    }
    text += expected;
    text += "'";
    return text;
}

OwnedRef one_text_tuple(std::string_view text) {
    OwnedRef str = new_str(text);
    OwnedRef tuple = made_object(PyTuple_New(1));
    PyTuple_SET_ITEM(tuple.get(), 0, str.release());
    return tuple;
}

bool is_exception_class(PyObject* type) {
    return PyType_Check(type) &&
           PyType_FastSubclass(reinterpret_cast<PyTypeObject*>(type), Py_TPFLAGS_BASE_EXC_SUBCLASS);
}

// Raises a recipe in the interpreter: raise_in_interpreter for recipes.
void raise_recipe(ErrorRecipe recipe) {
    auto [type, argument] = std::move(recipe).run();
    if (is_exception_class(type.get())) {
        PyErr_SetObject(type.get(), argument.get());
    } else {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    }
}

void write_stderr(std::string_view text) {
    ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
}

// Appends `bytes` as UTF-8, replacing each maximal ill-formed subsequence by
// U+FFFD.
void append_lossy_utf8(OwnedText& out, const unsigned char* bytes, size_t size) {
    constexpr std::string_view replacement = "\xEF\xBF\xBD";
    size_t i = 0;
    while (i < size) {
        unsigned char lead = bytes[i];
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            out += replacement;
            ++i;
            continue;
        }
        size_t valid = 1;
        while (valid < length && i + valid < size) {
            unsigned char next = bytes[i + valid];
            if (valid == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF)) break;
            ++valid;
        }
        if (valid == length) {
            out.append(reinterpret_cast<const char*>(bytes + i), length);
        } else {
            out += replacement;
        }
        i += valid;
    }
}

}  // namespace

// --- ErrorRecipe -------------------------------------------------------------

ErrorRecipe ErrorRecipe::type_mismatch(OwnedRef object, OwnedRef expected_type) noexcept {
    ErrorRecipe recipe(Kind::TypeMismatch);
    recipe.object_ = std::move(object);
    recipe.expected_type_ = std::move(expected_type);
    return recipe;
}

ErrorRecipe ErrorRecipe::fixed_text(PyObject* exception_type, std::string_view text) noexcept {
    ErrorRecipe recipe(Kind::FixedText);
    recipe.exception_type_ = exception_type;
    recipe.fixed_ = text;
    return recipe;
}

ErrorRecipe ErrorRecipe::built_text(OwnedText text) noexcept {
    ErrorRecipe recipe(Kind::BuiltText);
    recipe.built_ = std::move(text);
    return recipe;
}

ErrorRecipe ErrorRecipe::missing_exception() noexcept {
    ErrorRecipe recipe(Kind::MissingException);
    recipe.fixed_ = missing_exception_text;
    return recipe;
}

ErrorRecipe ErrorRecipe::fault_fixed_text(std::string_view text) noexcept {
    ErrorRecipe recipe(Kind::FaultFixedText);
    recipe.fixed_ = text;
    return recipe;
}

ErrorRecipe ErrorRecipe::fault_built_text(OwnedText text) noexcept {
    ErrorRecipe recipe(Kind::FaultBuiltText);
    recipe.built_ = std::move(text);
    return recipe;
}

std::pair<OwnedRef, OwnedRef> ErrorRecipe::run() && {
    switch (kind_) {
        case Kind::TypeMismatch: {
            OwnedText text = type_mismatch_text(object_.get(), expected_type_.get());
            return {OwnedRef::new_ref(PyExc_TypeError), new_str(view(text))};
        }
        case Kind::FixedText:
            return {OwnedRef::new_ref(exception_type_), new_str(fixed_)};
        case Kind::BuiltText:
            return {OwnedRef::new_ref(PyExc_TypeError), new_str(view(built_))};
        case Kind::MissingException:
            return {OwnedRef::new_ref(PyExc_SystemError), new_str(fixed_)};
        case Kind::FaultFixedText:
            return {OwnedRef::new_ref(panic_exception_type()), one_text_tuple(fixed_)};
        case Kind::FaultBuiltText:
            return {OwnedRef::new_ref(panic_exception_type()), one_text_tuple(view(built_))};
    }
    fault("unknown error recipe");
}

// --- PyErr -------------------------------------------------------------------

PyErr::PyErr(ErrorRecipe recipe) {
    void* memory = checked_malloc(sizeof(ErrorRecipe));
    recipe_ = ::new (memory) ErrorRecipe(std::move(recipe));
}

void PyErr::destroy_recipe() noexcept {
    if (recipe_ == nullptr) return;
    recipe_->~ErrorRecipe();
    std::free(recipe_);
    recipe_ = nullptr;
}

ErrorRecipe PyErr::take_recipe() noexcept {
    ErrorRecipe recipe = std::move(*recipe_);
    destroy_recipe();
    return recipe;
}

void raise_in_interpreter(PyErr error) {
    if (error.recipe_ != nullptr) {
        raise_recipe(error.take_recipe());
    } else if (error.exception_) {
        PyErr_SetRaisedException(error.exception_.release());
    } else {
        fault("PyErr state should never be invalid outside of normalization");
    }
}

PyObject* normalize_error(PyErr& error) {
    if (error.exception_) return error.exception_.get();
    // The recipe leaves the error before it runs, so an error met again while
    // its recipe runs holds neither state.
    if (error.recipe_ == nullptr) fault("Cannot normalize a PyErr while already normalizing it.");
    ErrorRecipe recipe = error.take_recipe();

    // Turning the recipe into its object runs with the global lock released
    // and then taken through the thread-state API, as when the error is
    // raised from a thread that is not attached.
    DetachedScope detached;
    if (Py_IsFinalizing()) fault("Cannot attach to the Python interpreter while it is finalizing.");

    struct GilStateScope {
        PyGILState_STATE state = PyGILState_Ensure();
        GilStateScope() { ATTACH_COUNT += 1; }
        ~GilStateScope() {
            ATTACH_COUNT -= 1;
            PyGILState_Release(state);
        }
    };
    {
        GilStateScope attached;
        raise_recipe(std::move(recipe));
        PyObject* exception = PyErr_GetRaisedException();
        if (exception == nullptr) fault("exception missing after writing to the interpreter");
        error.exception_ = OwnedRef::steal(exception);
    }
    detached.reattach();
    return error.exception_.get();
}

// --- Taking exceptions ---------------------------------------------------------

PyErr missing_exception_error() noexcept { return PyErr(ErrorRecipe::missing_exception()); }

std::optional<PyErr> take_raised_exception() {
    OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
    if (!exception) return std::nullopt;
    PyObject* panic_type = panic_exception_type();
    if (reinterpret_cast<PyObject*>(Py_TYPE(exception.get())) != panic_type) {
        return PyErr::from_exception(std::move(exception));
    }
    // A fault that Python code re-raised: resume it with its own text.
    OwnedText message;
    if (OwnedRef text = OwnedRef::steal(PyObject_Str(exception.get()))) {
        message = lossy_text(text.get());
    } else {
        PyErr_Clear();
        message = "Unwrapped panic from Python code";
    }
    write_stderr("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n");
    write_stderr("Python stack trace below:\n");
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    resume_fault(std::move(message));
}

PyErr taken_error() {
    if (std::optional<PyErr> taken = take_raised_exception()) return std::move(*taken);
    return missing_exception_error();
}

void discard_raised_exception() { (void)take_raised_exception(); }

void fail_null_object(std::source_location where) {
    if (PyObject* pending = PyErr_GetRaisedException()) {
        PyErr_SetRaisedException(pending);
        PyErr_WriteUnraisable(nullptr);
    }
    fault("PyObject pointer is null", where);
}

OwnedText lossy_text(PyObject* str) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size)) {
        return OwnedText(utf8, static_cast<size_t>(size));
    }
    PyErr_Clear();
    OwnedRef bytes = OwnedRef::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    OwnedText text;
    if (!bytes) {
        PyErr_Clear();
        return text;
    }
    append_lossy_utf8(text, reinterpret_cast<const unsigned char*>(PyBytes_AsString(bytes.get())),
                      static_cast<size_t>(PyBytes_Size(bytes.get())));
    return text;
}

// --- The PanicException type ---------------------------------------------------

PyObject* panic_exception_type() {
    return PANIC_EXCEPTION_TYPE.get([] {
        OwnedRef type = OwnedRef::steal(PyErr_NewExceptionWithDoc(
            "pyo3_runtime.PanicException", panic_exception_doc, PyExc_BaseException, nullptr));
        if (!type) {
            OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
            OwnedText message("Failed to initialize new exception type.: ");
            if (exception) {
                OwnedRef repr = OwnedRef::steal(PyObject_Repr(exception.get()));
                if (repr) {
                    message += lossy_text(repr.get());
                } else {
                    PyErr_Clear();
                }
            }
            fault(view(message));
        }
        return type;
    });
}

OwnedRef new_str(std::string_view text, std::source_location where) {
    return made_object(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())),
                       where);
}

PyErr panic_error(OwnedText message) noexcept {
    return PyErr(ErrorRecipe::fault_built_text(std::move(message)));
}

}  // namespace pelm
