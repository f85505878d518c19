/* A library that holds nothing but its version resource. */
int corvantis_version_resource_only;
