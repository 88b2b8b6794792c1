"""Python bindings to libpostal: address expansion and near-duplicate hashing."""
