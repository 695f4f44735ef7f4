# The documentation site: the Markdown pages of this folder through MyST, and the C++ reference
# from the installed headers through Doxygen's XML and Breathe (`make docs` builds both).
import os

project = "Ostrel"
author = "The Ostrel developers"
extensions = ["myst_parser", "breathe"]
source_suffix = {".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build"]
myst_heading_anchors = 3
myst_enable_extensions = ["colon_fence"]
html_theme = "alabaster"
html_static_path = []

breathe_projects = {"ostrel": os.environ.get("OSTREL_DOXYGEN_XML", "../build/docs/doxygen/xml")}
breathe_default_project = "ostrel"
# The operation table's macros are expanded in the generated declarations; the export macros say
# nothing a reader needs.
cpp_id_attributes = ["OSTREL_EXPORT", "KXTARN_API"]
