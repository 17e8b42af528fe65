// Placeholder translation unit.
