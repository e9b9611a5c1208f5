"""Schema compiler for the protocol modules: parses the ASN.1 sources into a
model and writes the build-time artefacts derived from it."""
