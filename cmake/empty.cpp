// Placeholder translation unit for a component folder that has no sources yet.
