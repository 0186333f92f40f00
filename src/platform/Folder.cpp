// Placeholder: filled in by the work that needs this unit.
