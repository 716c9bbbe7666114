// Nothing global: each test makes its own temporary folders (see temp_dir.h).
