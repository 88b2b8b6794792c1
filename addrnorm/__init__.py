"""Python bindings to libpostal: address expansion and near-duplicate hashing."""

__version__ = "0.1.0"
