// Keeps the support library non-empty while it has no shared helpers of its own.
namespace k7v_test_support_anchor { int anchor = 0; }
