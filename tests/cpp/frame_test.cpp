// Checks of the call frame that Python code cannot reach: the fault report,
// PanicException for caught and resumed faults, deferred releases, dropped
// error recipes, the refusal of a negative ATTACH_COUNT, one-time cells and
// the module's execution step run twice on one module object; and the
// sort's two ways of gathering the bits of an order key, of which a given
// processor runs only one.
//
// Usage: frame_test SCENARIO. Each scenario prints "ok" and exits 0 when its
// checks hold; the Python test suite runs each one and also reads stderr.
#include <Python.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <mutex>
#include <string>
#include <thread>

#include "dictsort/bit_compaction.hpp"
#include "dictsort/bit_extract.hpp"
#include "dictsort/sequence_abc.hpp"
#include "frame/args.hpp"
#include "frame/call.hpp"
#include "frame/compat.hpp"
#include "frame/error.hpp"
#include "frame/fault.hpp"
#include "frame/interned.hpp"
#include "frame/once.hpp"
#include "frame/pending_releases.hpp"
#include "module.hpp"
#include "text/fraction_pattern.hpp"
#include "text/vulgar_fractions.hpp"

namespace {

int failures = 0;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stdout, "FAILED: %s\n", what);
        ++failures;
    }
}

std::string type_name_of_current_exception() {
    PyObject* exception = PyErr_GetRaisedException();
    if (exception == nullptr) return "<none>";
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception));
    PyObject* module = PyObject_GetAttrString(type, "__module__");
    PyObject* qualname = PyObject_GetAttrString(type, "__qualname__");
    std::string name = std::string(module ? PyUnicode_AsUTF8(module) : "?") + "." +
                       (qualname ? PyUnicode_AsUTF8(qualname) : "?");
    Py_XDECREF(module);
    Py_XDECREF(qualname);
    PyErr_SetRaisedException(exception);
    return name;
}

// The args of the current exception as a Python repr, clearing it.
std::string take_exception_args_repr() {
    PyObject* exception = PyErr_GetRaisedException();
    if (exception == nullptr) return "<none>";
    PyObject* args = PyObject_GetAttrString(exception, "args");
    PyObject* repr = args ? PyObject_Repr(args) : nullptr;
    std::string text = repr ? PyUnicode_AsUTF8(repr) : "<error>";
    Py_XDECREF(repr);
    Py_XDECREF(args);
    Py_DECREF(exception);
    PyErr_Clear();
    return text;
}

PyObject* run_python(const char* code) {
    PyObject* globals = PyDict_New();
    PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
    PyObject* result = PyRun_String(code, Py_file_input, globals, globals);
    if (result == nullptr) PyErr_Print();
    Py_XDECREF(result);
    return globals;
}

std::function<pelm::CallOutcome()> current_body;

pelm::CallOutcome test_wrapper(PyObject* const*, Py_ssize_t, PyObject*) { return current_body(); }

// Runs `body` through the frame, as a function call would.
PyObject* call_through_frame(std::function<pelm::CallOutcome()> body) {
    current_body = std::move(body);
    return pelm::guarded_call(&test_wrapper, nullptr, 0, nullptr);
}

void fault_report() {
    for (int i = 0; i < 2; ++i) {
        PyObject* result =
            call_through_frame([]() -> pelm::CallOutcome { pelm::fault("frame test fault"); });
        check(result == nullptr, "a fault gives a null result");
        check(type_name_of_current_exception() == "pyo3_runtime.PanicException",
              "a fault raises pyo3_runtime.PanicException");
        check(take_exception_args_repr() == "('frame test fault',)",
              "the exception's args hold the message");
        check(pelm::ATTACH_COUNT == 0, "ATTACH_COUNT is back at 0 after a fault");
    }
    PyObject* base = reinterpret_cast<PyObject*>(PyExc_BaseException);
    PyObject* exception = PyErr_GetRaisedException();
    check(exception == nullptr, "no exception left behind");
    check(PyObject_IsSubclass(pelm::panic_exception_type(), base) == 1,
          "PanicException derives from BaseException");
    check(PyObject_IsSubclass(pelm::panic_exception_type(), PyExc_Exception) == 0,
          "PanicException does not derive from Exception");
}

void panic_resumed() {
    PyObject* globals = run_python(
        "def raise_panic(kind):\n"
        "    raise kind('raised from Python')\n");
    PyObject* raise_panic = PyDict_GetItemString(globals, "raise_panic");
    PyObject* result = call_through_frame([raise_panic]() -> pelm::CallOutcome {
        pelm::OwnedRef returned = pelm::OwnedRef::steal(
            PyObject_CallOneArg(raise_panic, pelm::panic_exception_type()));
        if (!returned) return pelm::taken_error();
        return returned;
    });
    check(result == nullptr, "a resumed fault gives a null result");
    check(type_name_of_current_exception() == "pyo3_runtime.PanicException",
          "a resumed fault raises PanicException");
    check(take_exception_args_repr() == "('raised from Python',)",
          "the new PanicException carries the text of the first");
    Py_DECREF(globals);
}

void pending_releases_drained() {
    PyObject* object = PyList_New(0);
    Py_INCREF(object);  // the test's own reference
    Py_ssize_t before = Py_REFCNT(object);
    {
        // A release while detached is queued, not performed.
        pelm::OwnedRef owned = pelm::OwnedRef::new_ref(object);
        check(Py_REFCNT(object) == before + 1, "new_ref adds a reference");
        pelm::ATTACH_COUNT = 0;
        owned.reset();
    }
    check(Py_REFCNT(object) == before + 1, "a detached release is deferred");
    PyObject* result = call_through_frame([] { return pelm::CallOutcome(pelm::none_object()); });
    Py_XDECREF(result);
    check(Py_REFCNT(object) == before, "the next call drains the deferred release");
    Py_DECREF(object);
    Py_DECREF(object);
}

bool panic_type_exists() {
    PyObject* globals = run_python(
        "found = any(c.__module__ == 'pyo3_runtime' for c in BaseException.__subclasses__())\n");
    bool found = PyDict_GetItemString(globals, "found") == Py_True;
    Py_DECREF(globals);
    return found;
}

void dropped_recipes() {
    pelm::ATTACH_COUNT = 1;  // as inside a call: releases happen at once
    PyObject* object = PyLong_FromLong(123456789);
    Py_ssize_t before = Py_REFCNT(object);
    {
        pelm::PyErr mismatch = pelm::type_mismatch_error(pelm::BorrowedRef(object), &PyUnicode_Type);
        check(Py_REFCNT(object) == before + 1, "the recipe holds the object");
        check(mismatch.is_recipe(), "a type mismatch starts as a recipe");
        pelm::PyErr panic = pelm::panic_error(pelm::OwnedText("never raised"));
        pelm::drop_error(std::move(panic));
        pelm::drop_error(std::move(mismatch));
    }
    check(Py_REFCNT(object) == before, "dropping the recipe releases the object");
    check(!panic_type_exists(), "a dropped fault recipe never made the PanicException type");
    Py_DECREF(object);
    pelm::ATTACH_COUNT = 0;
}

void negative_attach_refused() {
    pelm::ATTACH_COUNT = -1;
    call_through_frame([] { return pelm::CallOutcome(pelm::none_object()); });
    check(false, "a negative ATTACH_COUNT must end the process");
}

// Cells have static storage duration: every cell is linked into the list that
// the child of a fork() walks.
pelm::LazyCell<int> POISONED_CELL;
pelm::LazyCell<int, pelm::OnFailure::Retry> RETRIED_CELL;

void lazy_cell_poisoning() {
    int builds = 0;
    auto failing_build = [&]() -> int {
        ++builds;
        pelm::fault("the build failed");
    };
    for (const char* expected : {"('the build failed',)",
                                 "('Lazy instance has previously been poisoned',)",
                                 "('Lazy instance has previously been poisoned',)"}) {
        PyObject* result = call_through_frame([&]() -> pelm::CallOutcome {
            POISONED_CELL.get(failing_build);
            return pelm::none_object();
        });
        check(result == nullptr, "a poisoned cell fails the call");
        check(take_exception_args_repr() == expected, expected);
    }
    check(builds == 1, "a failed build is never tried again");

    int attempts = 0;
    for (int i = 0; i < 2; ++i) {
        try {
            RETRIED_CELL.get([&]() -> int {
                ++attempts;
                pelm::fault("retry me");
            });
        } catch (const pelm::InternalFault&) {
        }
    }
    check(attempts == 2, "a retrying cell builds again after a failure");
    check(RETRIED_CELL.get([] { return 7; }) == 7 && RETRIED_CELL.built(),
          "a retrying cell builds at last");
}

void module_exec_twice() {
    PyObject* module = PyModule_New("exec_twice");
    check(pelm::module_exec(module) == 0, "the first execution step succeeds");
    PyObject* first_parse = PyObject_GetAttrString(module, "parse");
    check(pelm::module_exec(module) == 0, "the second execution step succeeds");
    PyObject* second_parse = PyObject_GetAttrString(module, "parse");
    check(first_parse != second_parse, "the second step makes new function objects");
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    check(all != nullptr && PyList_Check(all) && PyList_GET_SIZE(all) == 20,
          "__all__ holds each name twice");
    if (all != nullptr && PyList_Check(all) && PyList_GET_SIZE(all) == 20) {
        for (Py_ssize_t i = 0; i < 10; ++i) {
            check(PyObject_RichCompareBool(PyList_GET_ITEM(all, i), PyList_GET_ITEM(all, i + 10),
                                           Py_EQ) == 1,
                  "the names repeat in the same order");
        }
    }
    PyObject* module_name = PyObject_GetAttrString(second_parse, "__module__");
    check(module_name != nullptr && PyUnicode_EqualToUTF8AndSize(module_name, "exec_twice", 10),
          "__module__ is the module's name");
    Py_XDECREF(module_name);
    Py_XDECREF(all);
    Py_XDECREF(first_parse);
    Py_XDECREF(second_parse);

    PyObject* not_module = PyLong_FromLong(5);
    check(pelm::module_exec(not_module) == -1, "the step refuses a non-module");
    check(take_exception_args_repr() == "(\"'int' object is not an instance of 'module'\",)",
          "the refusal names 'module'");
    Py_DECREF(not_module);
    Py_DECREF(module);
}

// A fresh module object with the module's functions. Its __all__ is there
// from the start, so the execution step takes no exception and makes no
// PanicException type.
PyObject* fresh_module(const char* name) {
    PyObject* module = PyModule_New(name);
    PyObject* all = PyList_New(0);
    PyObject_SetAttrString(module, "__all__", all);
    Py_DECREF(all);
    check(pelm::module_exec(module) == 0, "the execution step succeeds");
    return module;
}

// The module's sanitize_vulgar_string, from a fresh module object.
PyObject* sanitize_function() {
    PyObject* module = fresh_module("fractions_first_use");
    PyObject* function = PyObject_GetAttrString(module, "sanitize_vulgar_string");
    Py_DECREF(module);
    return function;
}

std::string call_sanitize(PyObject* function, PyObject* argument) {
    PyObject* result = PyObject_CallOneArg(function, argument);
    Py_DECREF(argument);
    if (result == nullptr) {
        std::string raised = "raised " + type_name_of_current_exception();
        return raised + " " + take_exception_args_repr();
    }
    std::string text = PyUnicode_AsUTF8(result);
    Py_DECREF(result);
    return text;
}

void fractions_built_on_first_use() {
    using pelm::text::fraction_pattern_built;
    using pelm::text::vulgar_fractions_built;
    PyObject* sanitize = sanitize_function();
    check(!vulgar_fractions_built() && !fraction_pattern_built(), "nothing is built at start");
    check(call_sanitize(sanitize, PyLong_FromLong(5)).starts_with("raised builtins.TypeError"),
          "a wrong argument fails");
    check(!vulgar_fractions_built() && !fraction_pattern_built(),
          "a call that fails in its argument builds neither value");
    check(call_sanitize(sanitize, PyUnicode_FromString("no fraction")) == "no fraction",
          "a text without fractions comes back");
    check(vulgar_fractions_built() && fraction_pattern_built(),
          "the first call that converts builds both values, fraction or not");
    check(call_sanitize(sanitize, PyUnicode_FromString("1 \u00bd")) == "1.5", "and uses them");
    Py_DECREF(sanitize);
}

// A one-time value asked for again by its own build. The build takes the
// interpreter back first, which performs the releases put off meanwhile; the
// scenario puts off the release of an object whose finaliser calls the
// module in a way that needs the same value. That nested call must complete
// instead of waiting for the build that runs it, and the value that the
// outer request returns is the one that the nested call saw.
struct ReentryCase {
    const char* nested_call;  // Python, with the module as M
    const char* nested_outcome;
    PyObject* (*get)();
    const char* value_check;  // Python, true for the value
};

PyObject* get_panic_type() { return pelm::panic_exception_type(); }
PyObject* get_add_note_name() { return pelm::interned(pelm::InternedName::AddNote); }
PyObject* get_sequence_type() {
    return reinterpret_cast<PyObject*>(pelm::dictsort::sequence_abc_type());
}

void value_asked_for_during_its_build(const ReentryCase& reentry) {
    PyObject* module = fresh_module("reentry");
    check(!panic_type_exists(), "no PanicException type exists yet");
    PyObject* globals = PyDict_New();
    PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
    PyDict_SetItemString(globals, "M", module);
    PyObject* ran = PyRun_String(
        "class RaisesOnEq:\n"
        "    def __eq__(self, other):\n"
        "        raise LookupError('compared')\n"
        "    __hash__ = object.__hash__\n"
        "def outcome(call):\n"
        "    try:\n"
        "        return repr(call())\n"
        "    except BaseException as e:\n"
        "        return type(e).__name__ + repr(getattr(e, '__notes__', []))\n"
        "nested = []\n"
        "class CallsOnFinalise:\n"
        "    def __del__(self):\n"
        "        nested.append(outcome(NESTED_CALL))\n",
        Py_file_input, globals, globals);
    if (ran == nullptr) PyErr_Print();
    Py_XDECREF(ran);
    PyObject* call = PyRun_String(reentry.nested_call, Py_eval_input, globals, globals);
    PyDict_SetItemString(globals, "NESTED_CALL", call);
    Py_XDECREF(call);
    PyObject* finaliser_class = PyDict_GetItemString(globals, "CallsOnFinalise");

    PyObject* value = nullptr;
    PyObject* result = call_through_frame([&]() -> pelm::CallOutcome {
        {
            pelm::OwnedRef finaliser = pelm::OwnedRef::steal(PyObject_CallNoArgs(finaliser_class));
            pelm::ATTACH_COUNT = 0;  // released while detached: put off
        }
        pelm::ATTACH_COUNT = 1;
        value = reentry.get();
        return pelm::none_object();
    });
    Py_XDECREF(result);

    PyObject* nested = PyDict_GetItemString(globals, "nested");
    check(PyList_GET_SIZE(nested) == 1 &&
              std::string(PyUnicode_AsUTF8(PyList_GET_ITEM(nested, 0))) == reentry.nested_outcome,
          reentry.nested_outcome);
    PyDict_SetItemString(globals, "value", value);
    PyObject* checked = PyRun_String(reentry.value_check, Py_eval_input, globals, globals);
    check(checked == Py_True, reentry.value_check);
    Py_XDECREF(checked);
    Py_DECREF(globals);
    Py_DECREF(module);
}

void reentered_panic_type() {
    value_asked_for_during_its_build(
        {"lambda: M.same_order([RaisesOnEq()], [1])", "LookupError[]", get_panic_type,
         "__import__('gc').collect() >= 0 and [c for c in BaseException.__subclasses__()"
         " if c.__module__ == 'pyo3_runtime'] == [value]"});
}

void reentered_interned_name() {
    value_asked_for_during_its_build(
        {"lambda: M.uncamel(5)",
         "TypeError[\"while processing 'camel'\"]", get_add_note_name,
         "value == 'add_note' and __import__('sys').intern('add_note') is value"});
}

void reentered_sequence_type() {
    value_asked_for_during_its_build({"lambda: M.multikeysort([{'a': 1}], {'a'})", "[{'a': 1}]",
                                      get_sequence_type,
                                      "value is __import__('collections.abc').abc.Sequence"});
}

pelm::InterpreterOnceCell<> NESTED_FAILURE_CELL;
pelm::InterpreterOnceCell<> OUTER_FAILURE_CELL;
pelm::LazyCell<int> SELF_ASKING_CELL;

// How nested builds of one cell meet: the first finished build is published
// and a later one released; a failure fails only its own request.
void once_cell_nested_builds() {
    PyObject* result = call_through_frame([]() -> pelm::CallOutcome {
        PyObject* published = nullptr;
        PyObject* discarded = nullptr;
        int builds = 0;
        auto make_list = [&]() -> pelm::OwnedRef {
            ++builds;
            return pelm::OwnedRef::steal(PyList_New(0));
        };
        auto outer = [&]() -> pelm::OwnedRef {
            ++builds;
            try {
                NESTED_FAILURE_CELL.get(
                    []() -> pelm::OwnedRef { pelm::fault("nested build failed"); });
                check(false, "a failing nested build fails its request");
            } catch (const pelm::InternalFault&) {
            }
            published = NESTED_FAILURE_CELL.get(make_list);
            check(NESTED_FAILURE_CELL.built(), "the nested build publishes its value at once");
            pelm::OwnedRef own = pelm::OwnedRef::steal(PyList_New(0));
            discarded = own.get();
            Py_INCREF(discarded);  // kept to see it released
            return own;
        };
        check(NESTED_FAILURE_CELL.get(outer) == published, "the first published value wins");
        check(Py_REFCNT(discarded) == 1, "the value finished later is released");
        Py_DECREF(discarded);
        check(NESTED_FAILURE_CELL.get(make_list) == published && builds == 2,
              "the failed nested build poisoned nothing and the value is kept");

        builds = 0;
        try {
            OUTER_FAILURE_CELL.get([&]() -> pelm::OwnedRef {
                published = OUTER_FAILURE_CELL.get(make_list);
                pelm::fault("outer build failed");
            });
            check(false, "a failing outer build fails its request");
        } catch (const pelm::InternalFault&) {
        }
        check(OUTER_FAILURE_CELL.get(make_list) == published && builds == 1,
              "an outer build that fails after a nested one published leaves the value");

        try {
            SELF_ASKING_CELL.get([] { return SELF_ASKING_CELL.get([] { return 1; }); });
            check(false, "a LazyCell asked for by its own build fails");
        } catch (const pelm::InternalFault& caught) {
            check(std::string(pelm::view(caught.message())) ==
                      "a one-time value was asked for by its own build",
                  "a LazyCell asked for by its own build is a fault, not a hang");
        }
        return pelm::none_object();
    });
    check(result == Py_None, "the checks ran to the end");
    Py_XDECREF(result);
}

// A thread holds the mutex of PENDING_RELEASES while the process forks. In
// the child, where that thread is gone, a deferred release and its drain
// must work.
void pending_releases_locked_at_fork() {
    std::mutex mutex;
    std::condition_variable changed;
    bool locked = false;
    bool forked = false;
    std::thread holder([&] {
        pelm::PendingReleasesLock record;
        std::unique_lock lock(mutex);
        locked = true;
        changed.notify_all();
        changed.wait(lock, [&] { return forked; });
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return locked; });
    }
    std::fflush(stdout);
    PyOS_BeforeFork();
    const pid_t child = fork();
    if (child == 0) {
        PyOS_AfterFork_Child();
        alarm(20);  // a hung child ends by itself
        pending_releases_drained();
        std::fflush(stdout);
        _exit(failures == 0 ? 0 : 1);
    }
    PyOS_AfterFork_Parent();
    {
        std::lock_guard lock(mutex);
        forked = true;
    }
    changed.notify_all();
    holder.join();
    int status = 0;
    check(child > 0 && waitpid(child, &status, 0) == child, "the child is waited for");
    check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the child queues and drains a release");
}

// From here on getrandom fails with EPERM for this process.
void refuse_random_bytes() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getrandom, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    check(prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0, "no new privileges");
    check(prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0, "the filter is installed");
}

void fractions_poisoned_by_a_failed_build() {
    using pelm::text::fraction_pattern_built;
    using pelm::text::vulgar_fractions_built;
    PyObject* sanitize = sanitize_function();
    refuse_random_bytes();
    unsigned char probe[16];
    if (getrandom(probe, sizeof probe, 0) >= 0) {
        // A C library that serves getrandom without the system call (from
        // the vDSO) is out of the filter's reach.
        std::printf("skip: getrandom does not go through the system call here\n");
        std::fflush(stdout);
        std::_Exit(77);
    }
    check(call_sanitize(sanitize, PyUnicode_FromString("\u00bd")) ==
              "raised pyo3_runtime.PanicException ('failed to generate random data',)",
          "the table's build fails where its hash seed is drawn");
    for (const char* text : {"\u00bd", "plain"}) {
        check(call_sanitize(sanitize, PyUnicode_FromString(text)) ==
                  "raised pyo3_runtime.PanicException ('Lazy instance has previously been "
                  "poisoned',)",
              "every later use fails: the build is never tried again");
    }
    check(!vulgar_fractions_built() && !fraction_pattern_built(),
          "a failed table build started by the pattern's build poisons both");
    Py_DECREF(sanitize);
}

// The bits of a key under a mask, gathered one at a time into the lowest
// bits: what both ways of compacting keys must give.
std::uint64_t gather_one_by_one(std::uint64_t key, std::uint64_t mask) {
    std::uint64_t gathered = 0;
    unsigned to = 0;
    for (unsigned bit = 0; bit < 64; ++bit) {
        if ((mask >> bit & 1) == 0) continue;
        gathered |= (key >> bit & 1) << to++;
    }
    return gathered;
}

// The compaction by shifted runs is what processors without a fast bit
// gathering instruction run; the instruction, what the others run. Both must
// keep every varying bit and gather exactly the kept ones.
void bit_compaction_gathers_the_kept_bits() {
    std::mt19937_64 random(20261210);
    const bool gathering = pelm::dictsort::bit_extract_compiled &&
                           pelm::dictsort::fast_bit_extract();
    std::uint64_t masks[] = {0, 1, ~std::uint64_t{0}, 0x8000000000000001, 0x5555555555555555,
                             0x00ff00ff00ff00f0, 0x0f0f0f0f0f0f0f0f};
    for (int round = 0; round < 2000; ++round) {
        std::uint64_t varying = round < 7 ? masks[round] : random() & random();
        if (round % 3 == 0) varying &= random();  // sparser masks: more, shorter runs
        const pelm::dictsort::BitCompaction compaction(varying);
        check((compaction.kept() & varying) == varying, "every varying bit is kept");
        check(compaction.width() == static_cast<unsigned>(std::popcount(compaction.kept())),
              "the width counts the kept bits");
        for (int k = 0; k < 16; ++k) {
            const std::uint64_t key = random();
            const std::uint64_t expected = gather_one_by_one(key, compaction.kept());
            check(compaction.apply(key) == expected, "shifted runs gather the kept bits");
            if (gathering) {
                check(pelm::dictsort::extract_bits(key, compaction.kept()) == expected,
                      "the instruction gathers the kept bits");
            }
        }
    }
}

const std::map<std::string, void (*)()> scenarios = {
    {"fractions_built_on_first_use", fractions_built_on_first_use},
    {"fractions_poisoned_by_a_failed_build", fractions_poisoned_by_a_failed_build},
    {"fault_report", fault_report},
    {"panic_resumed", panic_resumed},
    {"pending_releases_drained", pending_releases_drained},
    {"pending_releases_locked_at_fork", pending_releases_locked_at_fork},
    {"dropped_recipes", dropped_recipes},
    {"negative_attach_refused", negative_attach_refused},
    {"lazy_cell_poisoning", lazy_cell_poisoning},
    {"module_exec_twice", module_exec_twice},
    {"once_cell_nested_builds", once_cell_nested_builds},
    {"reentered_panic_type", reentered_panic_type},
    {"reentered_interned_name", reentered_interned_name},
    {"reentered_sequence_type", reentered_sequence_type},
    {"bit_compaction_gathers_the_kept_bits", bit_compaction_gathers_the_kept_bits},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || scenarios.count(argv[1]) == 0) {
        std::fprintf(stderr, "usage: frame_test SCENARIO\nscenarios:");
        for (const auto& [name, run] : scenarios) std::fprintf(stderr, " %s", name.c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    Py_Initialize();
    scenarios.at(argv[1])();
    if (PyErr_Occurred()) {
        PyErr_Print();
        check(false, "no exception may be left set");
    }
    if (failures == 0) std::printf("ok\n");
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
