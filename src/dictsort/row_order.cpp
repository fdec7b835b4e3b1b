#include "dictsort/row_order.hpp"

#include "frame/error.hpp"

namespace pelm::dictsort {
namespace {

enum class Truth { False, True, Failed };

// PyObject_RichCompare(left, right, op) and the truth of its result; a failure
// at either step has its exception taken and discarded.
Truth rich_compare_truth(PyObject* left, PyObject* right, int op) {
    const OwnedRef result = OwnedRef::steal(PyObject_RichCompare(left, right, op));
    if (!result) {
        discard_raised_exception();
        return Truth::Failed;
    }
    const int truth = PyObject_IsTrue(result.get());
    if (truth < 0) {
        // Taken before the result object is released.
        discard_raised_exception();
        return Truth::Failed;
    }
    return truth != 0 ? Truth::True : Truth::False;
}

// One side of a comparison as an interpreter object: Int, Float and Str are
// rebuilt as plain objects owned by the operand; an Other is lent as it is
// stored, its reference count untouched.
class ComparisonOperand {
public:
    explicit ComparisonOperand(const SortValue& cell) {
        switch (cell.kind()) {
            case SortValue::Kind::Int:
                made_ = made_object(PyLong_FromLongLong(cell.integer()));
                break;
            case SortValue::Kind::Float:
                made_ = made_object(PyFloat_FromDouble(cell.number()));
                break;
            case SortValue::Kind::Str:
                made_ = new_str(cell.text().view());
                break;
            case SortValue::Kind::Other:
                lent_ = cell.object();
                return;
            case SortValue::Kind::Null:
                fault("a Null cell never reaches the interpreter");
        }
        lent_ = made_.get();
    }

    PyObject* get() const noexcept { return lent_; }

private:
    OwnedRef made_;
    PyObject* lent_ = nullptr;
};

}  // namespace

Ordering py_compare(PyObject* left, PyObject* right) {
    switch (rich_compare_truth(left, right, Py_LT)) {
        case Truth::True:
            return Ordering::Less;
        case Truth::Failed:
            return Ordering::Equal;
        case Truth::False:
            break;
    }
    return rich_compare_truth(left, right, Py_GT) == Truth::True ? Ordering::Greater
                                                                 : Ordering::Equal;
}

Ordering compare_in_interpreter(const SortValue& a, const SortValue& b) {
    // The operand of a is made first; both are released on every way out,
    // also when a PanicException from the comparison resumes its fault.
    const ComparisonOperand left(a);
    const ComparisonOperand right(b);
    return py_compare(left.get(), right.get());
}

}  // namespace pelm::dictsort
