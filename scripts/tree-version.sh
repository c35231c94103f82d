#!/usr/bin/env bash
# The tree's version from VERSION, the version's one place; sourced by the scripts that package.

# tree_version REPO: prints the version, three numbers, or says why not and fails.
tree_version() {
  local version
  read -r version <"$1/VERSION" || { echo "cannot read $1/VERSION" >&2; return 1; }
  [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] ||
    { echo "VERSION must be three numbers, not '$version'" >&2; return 1; }
  printf '%s\n' "$version"
}
