// Compiled once per deliverable: tells the shared core which build it is part of.
// The Unicode build exports the wide entries and carries wide text columns and
// parameters; the ANSI build exports the narrow entries.
namespace kx {
extern const int kUnicodeBuildFlavor = KX_UNICODE_BUILD;
}
